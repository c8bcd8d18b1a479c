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

// The windows' target path: Drive's folder names are kept as sub-folders,
// but no name, however it is spelt, leads out of the chosen folder.
TEST_F(BrowseTest, TargetPathKeepsSubFoldersAndStaysInsideTheChosenFolder) {
  const std::string dir = DownloadDir();
  std::filesystem::create_directories(dir);
  struct Case {
    const char* drive;
    const char* local;  // below dir
  };
  const Case cases[] = {
      {"daily\\db.bak", "daily/db.bak"},
      {"sub/dir\\report.xlsx", "sub/dir/report.xlsx"},
      {"../x", "x"},
      {"/etc/x", "etc/x"},
      {"a\\..\\..\\b", "a/b"},
      {"..\\..\\..", "dosya"},
      {"C:\\Windows\\x.bak", "C:/Windows/x.bak"},
      {"ka\x01r\x1f/\x7fi.bak", "kar/i.bak"},
      {" / . /", "dosya"},
  };
  for (const Case& c : cases) {
    std::string target, message;
    ASSERT_TRUE(TCloudBackupService::MakeUniqueTargetPath(dir, c.drive, target, message)) << c.drive << message;
    EXPECT_EQ(target, dir + "/" + c.local) << c.drive;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/daily"));
  EXPECT_FALSE(std::filesystem::exists(testEnv->Root() + "/x"));

  // Taken by a file or a folder alike: the count goes before the extension.
  std::string target, message;
  WriteFile(dir + "/daily/db.bak", "1");
  ASSERT_TRUE(TCloudBackupService::MakeUniqueTargetPath(dir, "daily/db.bak", target, message));
  EXPECT_EQ(target, dir + "/daily/db_1.bak");
  std::filesystem::create_directory(dir + "/daily/db_1.bak");
  ASSERT_TRUE(TCloudBackupService::MakeUniqueTargetPath(dir, "daily\\db.bak", target, message));
  EXPECT_EQ(target, dir + "/daily/db_2.bak");
  WriteFile(dir + "/README", "");
  ASSERT_TRUE(TCloudBackupService::MakeUniqueTargetPath(dir, "README", target, message));
  EXPECT_EQ(target, dir + "/README_1");

  // A sub-folder that is a link (to anywhere) or a file is never written through.
  const std::string outside = testEnv->Root() + "/disari";
  std::filesystem::create_directories(outside);
  std::filesystem::create_directory_symlink(outside, dir + "/link");
  EXPECT_FALSE(TCloudBackupService::MakeUniqueTargetPath(dir, "link/x.bak", target, message));
  EXPECT_EQ(target, "");
  EXPECT_EQ(message, "Hedef alt klasor kullanilamiyor: " + dir + "/link");
  EXPECT_FALSE(TCloudBackupService::MakeUniqueTargetPath(dir, "README/x.bak", target, message));
  EXPECT_FALSE(TCloudBackupService::MakeUniqueTargetPath(dir + "/yok", "x.bak", target, message));
  EXPECT_TRUE(std::filesystem::is_empty(outside));
}

TEST_F(BrowseTest, RevisionFileNameCarriesTheRevisionsTime) {
  const TDateTime moment = EncodeDateTime(2024, 1, 31, 23, 59, 59);
  EXPECT_EQ(TCloudBackupService::RevisionFileName("backup.bak", moment, 3), "backup_rev_20240131_235959.bak");
  EXPECT_EQ(TCloudBackupService::RevisionFileName("backup.bak", 0, 3), "backup_rev_3.bak");
  EXPECT_EQ(TCloudBackupService::RevisionFileName("README", 0, 1), "README_rev_1");
  EXPECT_EQ(TCloudBackupService::RevisionFileName("../a.part1.rar", 0, 2), ".._a.part1_rev_2.rar");
}

// Drive drops unpinned old content after 30 days; a pinned revision stays.
TEST_F(BrowseTest, PinnedRevisionSurvivesThePurgeAndUnpinnedOneGoes) {
  auto engine = MakeEngine();
  const std::string id = Google().AddFile("Muhasebe_.bak", engine->AccountRootFolderId(), "pazartesi");
  Google().AddRevision(id, "sali");
  Google().AddRevision(id, "carsamba");
  std::vector<TDriveRevisionInfo> revisions;
  std::string message;
  ASSERT_TRUE(engine->ListDriveFileRevisions(id, revisions, message));
  ASSERT_EQ(revisions.size(), 3u);
  const std::string monday = revisions[0].RevisionID, tuesday = revisions[1].RevisionID;

  ASSERT_TRUE(engine->SetDriveRevisionKeepForever(id, monday, true, message)) << message;
  EXPECT_EQ(message, "Surum kalici olarak saklanacak.");
  ASSERT_TRUE(engine->SetDriveRevisionKeepForever(id, tuesday, true, message));
  ASSERT_TRUE(engine->SetDriveRevisionKeepForever(id, tuesday, false, message));
  ASSERT_TRUE(engine->ListDriveFileRevisions(id, revisions, message));
  EXPECT_TRUE(revisions[0].KeepForever);
  EXPECT_FALSE(revisions[1].KeepForever);
  EXPECT_EQ(TCloudBackupService::PinnedRevisionCount(revisions), 1);

  // Within 30 days nothing goes; after them the unpinned old one does, the
  // head never.
  EXPECT_EQ(Google().PurgeRevisions(devcloud::NowUnixMs() + 29LL * 24 * 3600 * 1000), 0u);
  EXPECT_EQ(Google().PurgeRevisions(devcloud::NowUnixMs() + 31LL * 24 * 3600 * 1000), 1u);
  ASSERT_TRUE(engine->ListDriveFileRevisions(id, revisions, message));
  ASSERT_EQ(revisions.size(), 2u);
  EXPECT_EQ(revisions[0].RevisionID, monday);
  std::string dest = testEnv->Root() + "/pazartesi.bak";
  ASSERT_TRUE(engine->DownloadDriveFileRevision(id, monday, dest, message)) << message;
  EXPECT_EQ(ReadFile(dest), "pazartesi");
  EXPECT_FALSE(engine->DownloadDriveFileRevision(id, tuesday, testEnv->Root() + "/sali.bak", message));

  EXPECT_FALSE(engine->SetDriveRevisionKeepForever(id, "yok", true, message));
  EXPECT_EQ(message, "Drive surum sabitlemesi degistirilemedi.");
  EXPECT_FALSE(engine->SetDriveRevisionKeepForever("", monday, true, message));
  EXPECT_EQ(message, "Drive dosya kimligi bos.");
}

// Drive keeps at most 200 revisions of a file forever: the 201st pin is
// refused with a message that names the way out, and so is the request
// itself when it reaches Drive.
TEST_F(BrowseTest, TwoHundredPinsAreTheLimit) {
  auto engine = MakeEngine();
  const std::string id = Google().AddFile("Muhasebe_.bak", engine->AccountRootFolderId(), "0");
  std::vector<std::string> ids;
  for (int i = 1; i <= 201; ++i) ids.push_back(Google().AddRevision(id, std::to_string(i)));
  for (int i = 0; i < 200; ++i) Google().SetRevisionKeepForever(id, ids[i], true);

  std::string message;
  EXPECT_FALSE(engine->SetDriveRevisionKeepForever(id, ids[200], true, message));
  EXPECT_EQ(message, "Bu dosyanin 200 surumu zaten kalici saklaniyor; Drive bir dosyanin en fazla 200 surumunu kalici "
                     "saklar. Once eski bir surumun sabitlemesini kaldirin.");
  EXPECT_FALSE(engine->GoogleDrive().SetRevisionKeepForever(id, ids[200], true));
  // Pinning one that is pinned already, and unpinning, still work.
  EXPECT_TRUE(engine->SetDriveRevisionKeepForever(id, ids[5], true, message)) << message;
  ASSERT_TRUE(engine->SetDriveRevisionKeepForever(id, ids[0], false, message));
  EXPECT_TRUE(engine->SetDriveRevisionKeepForever(id, ids[200], true, message)) << message;

  // Over 100 unpinned old revisions, new content pushes the oldest out; the
  // pinned ones stay whatever their number.
  const std::string other = Google().AddFile("Stok_.bak", engine->AccountRootFolderId(), "ilk");
  std::vector<std::string> otherIds{Google().File(other)->revisions[0].id};
  for (int i = 0; i < 101; ++i) otherIds.push_back(Google().AddRevision(other, "r" + std::to_string(i)));
  Google().SetRevisionKeepForever(other, otherIds[0], true);
  const std::string local = testEnv->Root() + "/Stok_.bak";
  WriteFile(local, "yeni");
  ASSERT_FALSE(engine->GoogleDrive().UpdateFileContent(other, local).FileID.empty());
  const auto revisions = Google().File(other)->revisions;
  ASSERT_EQ(revisions.size(), 102u);  // pinned + 100 unpinned old + head
  EXPECT_EQ(revisions[0].id, otherIds[0]);
  EXPECT_EQ(revisions[1].id, otherIds[2]);  // otherIds[1] went
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
