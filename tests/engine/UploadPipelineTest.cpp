// Archive, quota, retries, in-place updates and failure names, against the
// emulator and the installed archiver.
#include "EngineTestSupport.h"

#include "AccountDirectoryState.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/process.h"
#include "plans/uPlanActivityStore.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace calvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr std::int64_t kMiB = 1048576;

class UploadPipelineTest : public EngineTest {
 protected:
  std::string Backup() const { return WorkDir() + "/Muhasebe_.bak"; }

  std::vector<std::string> Events(const TBackupPlan& plan) {
    TPlanActivitySnapshot snapshot;
    TryGetPlanActivity(Env(), plan.ID, snapshot);
    std::vector<std::string> events;
    for (const auto& e : snapshot.RecentEvents) events.push_back(e.Title + ": " + e.Details);
    return events;
  }

  int Attempts(const TLogCapture& log) {
    int n = 0;
    for (const auto& line : log.Lines()) n += line.find("INFO Drive upload denemesi ") == 0;
    return n;
  }

  // Runs the archiver on the bytes Drive holds for these files, joined in order.
  bool DriveArchiveOpens(const std::string& folderId, const std::vector<std::string>& names,
                         const std::string& password) {
    std::string joined = testEnv->Root() + "/joined.7z";
    std::string all;
    for (const auto& name : names)
      for (const auto& file : Google().Children(folderId))
        if (file.name == name) all += ReadFile(Google().ContentPath(file.id));
    WriteFile(joined, all);
    platform::ProcessRequest request;
    request.program = "7zz";
    request.arguments = {"t", "-p" + password, "-bso0", "-bse0", joined};
    return platform::SystemProcessRunner().Run(request).exitCode == 0;
  }
};

TEST_F(UploadPipelineTest, LargeBackupIsSplitIntoVolumesAndSmallOneGoesAsItIs) {
  struct Case {
    std::int64_t size;
    bool deleteLocal;
    std::vector<std::string> drive;
    std::vector<std::string> local;
  };
  const Case cases[] = {
      {kMiB * 9 / 10, false, {"Muhasebe_.bak"}, {"Muhasebe_.bak"}},
      {kMiB * 3 / 2, false, {"Muhasebe_.part1.rar", "Muhasebe_.part2.rar"},
       {"Muhasebe_.bak", "Muhasebe_.part1.rar", "Muhasebe_.part2.rar"}},
      {kMiB * 3 / 2, true, {"Muhasebe_.part1.rar", "Muhasebe_.part2.rar"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::filesystem::remove_all(WorkDir());
    WriteBytes(Backup(), c.size);
    TBackupPlan plan = SqlPlan();
    plan.RarSplitVolumeMB = 1;
    plan.DeleteLocalAfterUpload = c.deleteLocal;
    plan.DriveSubFolder = "boyut" + std::to_string(&c - cases);
    auto engine = MakeEngine();
    std::string path = Backup(), message;
    ASSERT_TRUE(engine->UploadBackup(plan, path, message)) << message;

    std::vector<std::string> onDrive;
    std::string folderId;
    for (const auto& folder : Google().Children(AccountFolderId()))
      if (folder.name == plan.DriveSubFolder) folderId = folder.id;
    onDrive = DriveNames(folderId);
    std::sort(onDrive.begin(), onDrive.end());
    EXPECT_EQ(onDrive, c.drive);
    EXPECT_EQ(WorkFiles(), c.local);
    EXPECT_EQ(path, WorkDir() + "/" + c.drive[0]);
    if (c.drive.size() > 1) {
      EXPECT_THAT(Events(plan), ::testing::Contains("Upload Tamamlandi: 2 parcanin tumu yuklendi."));
      EXPECT_EQ(message, "Yedek alindi ve Drive'a yuklendi: Muhasebe_.part1.rar | "
                         "Yedek alindi ve Drive'a yuklendi: Muhasebe_.part2.rar");
      EXPECT_TRUE(DriveArchiveOpens(folderId, c.drive, ""));
    }
  }
}

TEST_F(UploadPipelineTest, NoArchiveWhenSplittingIsOffWhateverTheSize) {
  WriteBytes(Backup(), kMiB * 3);
  TBackupPlan plan = SqlPlan();
  plan.RarSplitVolumeMB = 0;
  auto engine = MakeEngine();
  std::string path = Backup(), message;
  ASSERT_TRUE(engine->UploadBackup(plan, path, message)) << message;
  EXPECT_THAT(Runner().RequestsOf("7z"), IsEmpty());
  EXPECT_THAT(DriveNames(AccountFolderId()), ::testing::Contains("Muhasebe_.bak"));
}

TEST_F(UploadPipelineTest, EncryptedArchiveGetsThePasswordOnStandardInputOnly) {
  const std::string password = "Gizli Şifre 1 ";
  WriteBytes(Backup(), 200000);
  TBackupPlan plan = SqlPlan();
  plan.UseRarEncryption = true;
  plan.RarPassword = password;
  auto engine = MakeEngine();
  std::string path = Backup(), message;
  ASSERT_TRUE(engine->UploadBackup(plan, path, message)) << message;
  EXPECT_EQ(path, WorkDir() + "/Muhasebe_.rar");

  auto runs = Runner().RequestsOf("7z");
  ASSERT_EQ(runs.size(), 1u);
  for (const auto& argument : runs[0].arguments) EXPECT_THAT(argument, ::testing::Not(HasSubstr("Gizli")));
  EXPECT_THAT(runs[0].arguments, ::testing::IsSupersetOf({"-mhe=on", "-mx=0"}));
  EXPECT_EQ(runs[0].standardInput, password + "\n");

  EXPECT_TRUE(DriveArchiveOpens(AccountFolderId(), {"Muhasebe_.rar"}, password));
  EXPECT_FALSE(DriveArchiveOpens(AccountFolderId(), {"Muhasebe_.rar"}, "yanlis"));
}

TEST_F(UploadPipelineTest, RarBesideTheProgramIsPreferredAndGetsThePasswordOnStandardInput) {
  // A stand-in rar: records its command line and input, writes two volumes.
  WriteFile(ProgramDir() + "/rar", R"(#!/usr/bin/env python3
import json, os, sys
here = os.path.dirname(os.path.abspath(__file__))
json.dump({"argv": sys.argv[1:], "stdin": sys.stdin.read()}, open(os.path.join(here, "rar_call.json"), "w"))
archive = sys.argv[-2]
base = archive[:-4]
for n in (1, 2):
    open("%s.part%d.rar" % (base, n), "wb").write(b"v" * 100)
)");
  std::filesystem::permissions(ProgramDir() + "/rar", std::filesystem::perms::owner_all);
  WriteBytes(Backup(), kMiB * 3 / 2);
  TBackupPlan plan = SqlPlan();
  plan.UseRarEncryption = true;
  plan.RarPassword = "Parola 1";
  plan.RarSplitVolumeMB = 1;
  auto engine = MakeEngine();
  EXPECT_EQ(engine->FindRarExecutable(), ProgramDir() + "/rar");
  std::vector<std::string> files;
  std::string error;
  ASSERT_TRUE(engine->CreateRarArchive(plan, Backup(), files, error)) << error;
  EXPECT_EQ(files, (std::vector<std::string>{WorkDir() + "/Muhasebe_.part1.rar", WorkDir() + "/Muhasebe_.part2.rar"}));
  TJson call;
  ASSERT_TRUE(TryParseJson(ReadFile(ProgramDir() + "/rar_call.json"), call));
  EXPECT_EQ(JsonToText(call["argv"]), R"(["a","-ep","-m5","-idq","-hp","-v1m",")" + WorkDir() +
                                          R"(/Muhasebe_.rar",")" + Backup() + R"("])");
  EXPECT_EQ(call["stdin"], "Parola 1\nParola 1\n");
}

TEST_F(UploadPipelineTest, MissingArchiverFailsAnEncryptedPlanWithoutUploadingTheRawFile) {
  WriteBytes(Backup(), 1000);
  TBackupPlan plan = SqlPlan();
  plan.UseRarEncryption = true;
  plan.RarPassword = "pw";
  auto engine = MakeEngine();
  Runner().FailStartOf(ExtractFileName(engine->FindRarExecutable()));
  std::string path = Backup(), message;
  EXPECT_FALSE(engine->UploadBackup(plan, path, message));
  EXPECT_THAT(message, StartsWith("RAR baslatilamadi. WinRAR/RAR kurulu olmali veya rar.exe uygulama klasorunde "
                                  "bulunmali. "));
  EXPECT_EQ(path, Backup());
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{"Muhasebe_.bak"});
  EXPECT_EQ(Cloud().RequestCount("POST", "/upload/"), 0);
}

TEST_F(UploadPipelineTest, FailingDriveIsRetriedWithGrowingWaitsThenTheFileGetsItsFailureName) {
  struct Case {
    const char* method;
    const char* path;
    int retries;
    const char* message;
    std::vector<std::int64_t> sleeps;
  };
  const Case cases[] = {
      {"POST", "^/upload/drive/v3/files", 0, "Drive yukleme basarisiz.", {}},
      {"GET", "^/drive/v3/files$", 2,
       "Drive klasor listesi okunamadi: Muhasebe_.bak (HTTP 503: Injected fault: backendError)", {5000, 10000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::filesystem::remove_all(WorkDir());
    WriteBytes(Backup(), 5000);
    TBackupPlan plan = SqlPlan();
    plan.UploadRetryCount = c.retries;
    auto engine = MakeEngine();
    engine->AccountRootFolderId();
    Cloud().ClearFaults();
    Cloud().InjectStatus(c.method, c.path, 100, 503);
    const auto sleepsBefore = Clock().Sleeps().size();
    TLogCapture log;
    std::string path = Backup(), message;
    EXPECT_FALSE(engine->UploadBackup(plan, path, message));
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(Attempts(log), c.retries + 1);
    auto sleeps = Clock().Sleeps();
    EXPECT_EQ(std::vector<std::int64_t>(sleeps.begin() + sleepsBefore, sleeps.end()), c.sleeps);
    EXPECT_EQ(path, WorkDir() + "/Muhasebe_.failed.bak");
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"Muhasebe_.failed.bak"});
    EXPECT_EQ(Events(plan).back(), std::string("Hata: ") + c.message);
  }
  Cloud().ClearFaults();
  EXPECT_THAT(Google().FilesNamed("Muhasebe_.bak"), IsEmpty());
}

TEST_F(UploadPipelineTest, QuotaRefusalIsNotRetried) {
  WriteBytes(Backup(), 5000);
  Google().SetQuotaLimit(4000);
  TBackupPlan plan = SqlPlan();
  plan.UploadRetryCount = 2;
  TLogCapture log;
  auto engine = MakeEngine();
  std::string path = Backup(), message;
  EXPECT_FALSE(engine->UploadBackup(plan, path, message));
  EXPECT_THAT(message, StartsWith("Disk alani yetersiz."));
  EXPECT_EQ(Attempts(log), 1);
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive upload tekrar denenmeyecek; disk alani yetersiz."));
  EXPECT_THAT(Clock().Sleeps(), IsEmpty());
}

TEST_F(UploadPipelineTest, SecondOfThreeVolumesFailingStopsTheUpload) {
  // The account may hold one volume: the second one is refused.
  Cloud().Account().Write("Lisanslar/musteri/KotaMB", devcloud::DatabaseJson(1));
  WriteBytes(Backup(), kMiB * 5 / 2);
  TBackupPlan plan = SqlPlan();
  plan.RarSplitVolumeMB = 1;
  auto engine = MakeEngine();
  std::string path = Backup(), message;
  EXPECT_FALSE(engine->UploadBackup(plan, path, message));
  EXPECT_THAT(DriveNames(AccountFolderId()), ElementsAre("Muhasebe_.part1.rar"));
  EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"Muhasebe_.bak", "Muhasebe_.part1.rar",
                                                   "Muhasebe_.part2.failed.rar", "Muhasebe_.part3.rar"}));
  EXPECT_EQ(path, WorkDir() + "/Muhasebe_.part1.rar");
  EXPECT_THAT(message, StartsWith("Yedek alindi ve Drive'a yuklendi: Muhasebe_.part1.rar | Disk alani yetersiz."));
}

TEST_F(UploadPipelineTest, ExistingDriveFileGetsANewRevision) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  const std::string id = Google().AddFile("MUHASEBE_.bak", folder, "eski icerik");
  WriteBytes(Backup(), 3000);
  std::string path = Backup(), message;
  ASSERT_TRUE(engine->UploadBackup(SqlPlan(), path, message)) << message;
  EXPECT_EQ(message, "Yedek alindi ve Drive uzerinde yeni surum olarak kaydedildi: MUHASEBE_.bak");
  EXPECT_EQ(Google().FilesNamed("MUHASEBE_.bak").size(), 1u);
  EXPECT_EQ(Google().File(id)->revisions.size(), 2u);
  EXPECT_EQ(Google().File(id)->Size(), 3000);
}

TEST_F(UploadPipelineTest, FailedListingNeverCreatesASecondFileOfTheSameName) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  const std::string id = Google().AddFile("Muhasebe_.bak", folder, "eski");
  WriteBytes(Backup(), 3000);
  TBackupPlan plan = SqlPlan();
  plan.UploadRetryCount = 1;
  Cloud().InjectStatus("GET", "^/drive/v3/files$", 1, 503);
  std::string path = Backup(), message;
  ASSERT_TRUE(engine->UploadBackup(plan, path, message)) << message;
  EXPECT_EQ(Google().FilesNamed("Muhasebe_.bak").size(), 1u);
  EXPECT_EQ(Google().File(id)->revisions.size(), 2u);
  EXPECT_EQ(Clock().Sleeps(), std::vector<std::int64_t>{5000});
}

// A folder lookup Drive does not answer fails the attempt (the next one
// looks again); it never creates a second folder of the same name.
TEST_F(UploadPipelineTest, FailedFolderLookupIsRetriedAndNeverMakesASecondFolder) {
  const std::string root = MakeEngine()->AccountRootFolderId();
  const std::string sub = Google().AddFolder("Sunucu", root);
  struct Case {
    int skip;  // 0: the account folder's lookup, 1: the sub-folder's
    const char* failure;
  };
  const Case cases[] = {
      {0, "Hesap ana klasoru hazirlanamadi: Drive klasoru aranamadi: Deneme Ltd (HTTP 500: Injected fault: "
          "backendError)"},
      {1, "Drive klasoru aranamadi: Sunucu (HTTP 500: Injected fault: backendError)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skip);
    std::filesystem::remove_all(WorkDir());
    WriteBytes(Backup(), 3000 + c.skip);
    TBackupPlan plan = SqlPlan();
    plan.DriveSubFolder = "Sunucu";
    plan.UploadRetryCount = 1;
    auto engine = MakeEngine();
    devcloud::FaultRule rule;
    rule.status = 500;
    rule.reason = "backendError";
    rule.method = "GET";
    rule.pathPattern = "^/drive/v3/files$";
    rule.skip = c.skip;
    Cloud().AddFault(rule);
    const auto sleepsBefore = Clock().Sleeps().size();
    TLogCapture log;
    std::string path = Backup(), message;
    ASSERT_TRUE(engine->UploadBackup(plan, path, message)) << message;
    EXPECT_TRUE(log.Contains(TLogLevel::Warn, std::string("Drive upload denemesi basarisiz (1/2): ") + c.failure));
    EXPECT_EQ(Clock().Sleeps().size() - sleepsBefore, 1u);
    EXPECT_THAT(DriveNames(Google().RootFolderId()), ElementsAre("Deneme Ltd"));
    EXPECT_THAT(DriveNames(root), ::testing::UnorderedElementsAre("Sunucu", "restoremeta"));
    EXPECT_THAT(DriveNames(sub), ElementsAre("Muhasebe_.bak"));
  }
}

TEST_F(UploadPipelineTest, SubFolderThatCannotBeCreatedNeverSendsTheBackupToTheDriveTop) {
  auto engine = MakeEngine();
  engine->AccountRootFolderId();
  Cloud().InjectStatus("POST", "^/drive/v3/files$", 100, 500);
  WriteBytes(Backup(), 3000);
  TBackupPlan plan = SqlPlan();
  plan.DriveSubFolder = "Sunucu\\Gunluk";
  std::string path = Backup(), message;
  EXPECT_FALSE(engine->UploadBackup(plan, path, message));
  EXPECT_EQ(message, "Drive hedef klasoru olusturulamadi veya bulunamadi: Sunucu\\Gunluk");
  EXPECT_EQ(Cloud().RequestCount("POST", "/upload/"), 0);
  EXPECT_THAT(Google().FilesNamed("Muhasebe_.bak"), IsEmpty());
  EXPECT_EQ(path, WorkDir() + "/Muhasebe_.failed.bak");
}

}  // namespace
}  // namespace calvora::test
