// What the desktop windows list and download of a plan's Drive folder.
#include "EngineTestSupport.h"

#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uPlanActivityStore.h"

#include <gmock/gmock.h>

#include <cctype>
#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BrowseTest : public EngineTest {
 protected:
  std::string Add(const std::string& name, const std::string& folder, std::int64_t ageSeconds,
                  const std::string& content = "icerik") {
    std::string id = Google().AddFile(name, folder, content);
    Google().SetModifiedTime(id, (1700000000 - ageSeconds) * 1000);
    return id;
  }

  static std::vector<std::string> Names(const std::vector<TDriveFileInfo>& files, bool relative = false) {
    std::vector<std::string> names;
    for (const auto& file : files) names.push_back(relative ? file.RelativePath : file.Name);
    return names;
  }

  std::string DownloadDir() const { return testEnv->Root() + "/indirilen"; }
};

TEST_F(BrowseTest, PlanListingKeepsThePlansBackupsOrFallsBackToAnyBackup) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  const std::string own = Google().AddFolder("Muhasebe", root);
  Add("Muhasebe_.bak", own, 100);
  Add("Muhasebe_.failed.bak", own, 50);
  Add("Other_.bak", own, 10);
  Add("muhasebe_.part1.rar", own, 100);
  const std::string foreign = Google().AddFolder("Baska", root);
  Add("Other_.bak", foreign, 10);
  Add("notes.txt", foreign, 10);

  TBackupPlan plan = SqlPlan();
  std::vector<TDriveFileInfo> files;
  std::string message;
  plan.DriveSubFolder = "Muhasebe";
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message)) << message;
  // Newest first, equal times by name ignoring case.
  EXPECT_THAT(Names(files), ElementsAre("Muhasebe_.bak", "muhasebe_.part1.rar"));
  EXPECT_EQ(message, "");

  plan.DriveSubFolder = "Baska";
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message));
  EXPECT_THAT(Names(files), ElementsAre("Other_.bak"));
}

TEST_F(BrowseTest, EmptySubFolderFallsBackToTheAccountRoot) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  Google().AddFolder("Bos", root);
  Add("Muhasebe_.bak", root, 10);
  TBackupPlan plan = SqlPlan();
  plan.DriveSubFolder = "Bos";
  std::vector<TDriveFileInfo> files;
  std::string message;
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message));
  EXPECT_THAT(Names(files), ElementsAre("Muhasebe_.bak"));
  EXPECT_EQ(message, "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.");

  plan.DatabaseName = "Stok";
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message));
  EXPECT_THAT(files, ::testing::SizeIs(1));  // any backup name serves when none is the plan's

  plan.DriveSubFolder = "";
  Google().SetTrashed(Google().FilesNamed("Muhasebe_.bak")[0].id, true);
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message));
  EXPECT_THAT(files, IsEmpty());
  EXPECT_EQ(message, "Bu plan icin Drive tarafinda yedek dosyasi bulunamadi (.bak/.rar/.fbk).");
}

TEST_F(BrowseTest, FolderPlanListsTheWholeTreeNewestFirst) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  const std::string target = Google().AddFolder("Belgeler", root);
  const std::string sub = Google().AddFolder("sub", target);
  const std::string dir = Google().AddFolder("dir", sub);
  Add("report.xlsx", dir, 10);
  Add("a.txt", target, 30);
  Add("b.txt", sub, 20);
  TBackupPlan plan;
  plan.ID = "{F}";
  plan.BackupType = "folder";
  plan.SourceFolder = "/srv/belgeler";
  plan.DriveSubFolder = "Belgeler";
  std::vector<TDriveFileInfo> files;
  std::string message;
  ASSERT_TRUE(engine->ListPlanDriveBackups(plan, files, message)) << message;
  EXPECT_THAT(Names(files, true), ElementsAre("sub\\dir\\report.xlsx", "sub\\b.txt", "a.txt"));
}

TEST_F(BrowseTest, ListingThatFailsIsReportedAsAFailure) {
  auto engine = MakeEngine();
  engine->AccountRootFolderId();
  Cloud().InjectStatus("GET", "^/drive/v3/files$", 1, 503);
  std::vector<TDriveFileInfo> files;
  std::string message;
  TLogCapture log;
  EXPECT_FALSE(engine->ListPlanDriveBackups(SqlPlan(), files, message));
  EXPECT_EQ(message, "Drive dosya listesi alinamadi. HTTP 503: Injected fault: backendError");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Drive plan dosya listeleme hatasi"));
}

TEST_F(BrowseTest, DownloadingAPlanKeepsExistingFilesAndCountsFailures) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  Add("Muhasebe_.bak", root, 10, std::string(1000, 'a'));
  const std::string broken = Add("Muhasebe_.part1.rar", root, 20, std::string(200, 'b'));
  Add("Muhasebe_.part2.rar", root, 30, std::string(30, 'c'));
  std::filesystem::create_directories(DownloadDir());
  WriteFile(DownloadDir() + "/Muhasebe_.bak", "yerel");
  Cloud().InjectStatus("GET", "^/drive/v3/files/" + broken + "$", 100, 500);

  std::vector<std::pair<std::int64_t, std::int64_t>> overall;
  engine->SetOnDownloadProgress([&](std::int64_t done, std::int64_t total) {
    if (total == 1230) overall.emplace_back(done, total);
  });
  TBackupPlan plan = SqlPlan();
  std::string message;
  EXPECT_FALSE(engine->DownloadPlanBackups(plan, DownloadDir(), message));
  EXPECT_EQ(message, "2 yedek indirildi, 1 hata. Klasor: " + DownloadDir());
  EXPECT_EQ(ReadFile(DownloadDir() + "/Muhasebe_.bak"), "yerel");
  EXPECT_EQ(ReadFile(DownloadDir() + "/Muhasebe__1.bak"), std::string(1000, 'a'));
  EXPECT_EQ(ReadFile(DownloadDir() + "/Muhasebe_.part2.rar"), std::string(30, 'c'));
  EXPECT_FALSE(std::filesystem::exists(DownloadDir() + "/Muhasebe_.part1.rar"));
  using Progress = std::pair<std::int64_t, std::int64_t>;
  EXPECT_EQ(overall.front(), Progress(0, 1230));
  EXPECT_EQ(overall.back(), Progress(1030, 1230));

  TPlanActivitySnapshot snapshot;
  ASSERT_TRUE(TryGetPlanActivity(Env(), plan.ID, snapshot));
  EXPECT_EQ(snapshot.CurrentStage, "Download Hata");
}

TEST_F(BrowseTest, DriveNamesNeverLeaveTheChosenFolder) {
  struct Case {
    const char* drive;
    const char* local;
  };
  const Case cases[] = {
      {"Muhasebe_.bak", "Muhasebe_.bak"}, {"../../evil.bak", ".._.._evil.bak"}, {"..", "dosya"},
      {".", "dosya"},                      {"a\\b/c.bak", "a_b_c.bak"},         {"ka\x01ri\x1f.bak", "kari.bak"},
      {"  ", "dosya"},
  };
  for (const Case& c : cases) EXPECT_EQ(TCloudBackupService::SafeLocalFileName(c.drive), c.local) << c.drive;

  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  Add("../../Muhasebe_kacak.bak", root, 10, "x");
  std::string message;
  ASSERT_TRUE(engine->DownloadPlanBackups(SqlPlan(), DownloadDir(), message)) << message;
  EXPECT_TRUE(std::filesystem::exists(DownloadDir() + "/.._.._Muhasebe_kacak.bak"));
  EXPECT_FALSE(std::filesystem::exists(testEnv->Root() + "/Muhasebe_kacak.bak"));
}

// Every Drive name can be brought back: local names keep within the 255
// bytes a file name may have, ".part" of the download included, with the
// extension and whole UTF-8 characters kept.
TEST_F(BrowseTest, LongAndMalformedDriveNamesAreShortenedToLoadableLocalNames) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  std::vector<std::string> names;
  for (size_t bytes : {250u, 251u, 255u, 300u, 1000u}) {
    std::string name = "Muhasebe_";
    while (name.size() + 4 < bytes) name += name.size() + 5 < bytes ? "\xC5\x9F" : "x";  // "ş"
    names.push_back(name + ".bak");
  }
  names.push_back("Muhasebe_bozuk\xC5.bak");  // not valid UTF-8
  for (size_t i = 0; i < names.size(); ++i) Add(names[i], root, 100 + static_cast<std::int64_t>(i), "x");
  std::string message;
  ASSERT_TRUE(engine->DownloadPlanBackups(SqlPlan(), DownloadDir(), message)) << message;
  EXPECT_EQ(message, Fmt("%d yedek indirildi, 0 hata. Klasor: %s", static_cast<int>(names.size()), DownloadDir()));
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DownloadDir())) {
    const std::string local = entry.path().filename().string();
    EXPECT_LE(local.size(), 250u) << local;
    EXPECT_TRUE(IsValidUtf8(local)) << local;
    EXPECT_EQ(ExtractFileExt(local), ".bak") << local;
    ++count;
  }
  EXPECT_EQ(count, names.size());

  // Taken: the count goes in before the extension, still within the limit.
  const std::string again = TCloudBackupService::UniqueLocalPath(DownloadDir(), names[3]);
  EXPECT_FALSE(std::filesystem::exists(again));
  EXPECT_LE(ExtractFileName(again).size(), 250u);
  EXPECT_EQ(ExtractFileExt(again), ".bak");
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(again[again.size() - 5]))) << again;
  // A name too long for the ".part" beside it, given by the caller.
  const std::string longDest = DownloadDir() + "/" + std::string(249, 'r') + ".bak";
  const std::string id = Google().AddFile("Muhasebe_uzun.bak", root, "uzun");
  ASSERT_TRUE(engine->DownloadDriveBackupFile(TDriveFileInfo{id, "Muhasebe_uzun.bak"}, longDest, message)) << message;
  EXPECT_EQ(ReadFile(longDest), "uzun");
}

TEST_F(BrowseTest, UniqueLocalPathCountsUpUntilFree) {
  std::filesystem::create_directories(DownloadDir());
  EXPECT_EQ(TCloudBackupService::UniqueLocalPath(DownloadDir(), "report.xlsx"), DownloadDir() + "/report.xlsx");
  WriteFile(DownloadDir() + "/report.xlsx", "1");
  WriteFile(DownloadDir() + "/report_1.xlsx", "2");
  EXPECT_EQ(TCloudBackupService::UniqueLocalPath(DownloadDir(), "report.xlsx"), DownloadDir() + "/report_2.xlsx");
  WriteFile(DownloadDir() + "/README", "3");
  EXPECT_EQ(TCloudBackupService::UniqueLocalPath(DownloadDir(), "README"), DownloadDir() + "/README_1");
}

TEST_F(BrowseTest, RevisionsAreListedAndDownloaded) {
  auto engine = MakeEngine();
  const std::string root = engine->AccountRootFolderId();
  const std::string id = Google().AddFile("Muhasebe_.bak", root, "birinci");
  Google().AddRevision(id, "ikinci");
  std::vector<TDriveRevisionInfo> revisions;
  std::string message;
  ASSERT_TRUE(engine->ListDriveFileRevisions(id, revisions, message)) << message;
  ASSERT_EQ(revisions.size(), 2u);
  const std::string dest = testEnv->Root() + "/rev.bak";
  ASSERT_TRUE(engine->DownloadDriveFileRevision(id, revisions[0].RevisionID, dest, message)) << message;
  EXPECT_EQ(message, "Surum indirildi: " + dest);
  EXPECT_EQ(ReadFile(dest), "birinci");

  struct Case {
    const char* file;
    const char* revision;
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {" ", "r", "/tmp/x", "Indirilecek Drive dosya kimligi bos."},
      {"f", "", "/tmp/x", "Indirilecek surum kimligi bos."},
      {"f", "r", " ", "Indirme hedef yolu bos."},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(engine->DownloadDriveFileRevision(c.file, c.revision, c.path, message));
    EXPECT_EQ(message, c.message);
  }
  EXPECT_FALSE(engine->ListDriveFileRevisions("  ", revisions, message));
  EXPECT_EQ(message, "Drive dosya kimligi bos.");
}

}  // namespace
}  // namespace calvora::test
