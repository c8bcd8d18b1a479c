// Folder plans: the Drive tree of a plan restored whole, one sub-folder,
// one file at an older revision; existing files only with consent; names
// from Drive never leave the target.
#include "RestoreTestSupport.h"

#include "engine/uRestoreMetadata.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class FolderRestoreTest : public RestoreTest {
 protected:
  void SetUp() override {
    plan.ID = "{AAAAAAAA-2222-3333-4444-555555555555}";
    plan.Name = "Belgeler";
    plan.BackupType = "folder";
    plan.SourceFolder = "/srv/belgeler";
    plan.DriveSubFolder = "Belgeler";
    const std::string account = MakeEngine()->AccountRootFolderId();
    const std::string meta = Google().AddFolder("restoremeta", account);
    Google().AddFile("plans.json", meta, PlansExportJson({plan}));
    folder = Google().AddFolder("Belgeler", account);
    report = Google().AddFile("rapor.txt", folder, "rapor ilk hali");
    Google().AddRevision(report, "rapor son hali");
    const std::string alt = Google().AddFolder("alt", folder);
    Google().AddFile("liste.csv", alt, "a;b");
    Google().AddFile("not.txt", Google().AddFolder("ic", alt), "ic not");
    target = testEnv->Root() + "/hedef";
  }

  TRestoreResult RestoreWith(const std::function<void(TRestoreRequest&)>& edit) {
    TRestoreService restore(Env());
    TRestoreRequest request;
    request.Plan = LoadPlan(restore, "Belgeler");
    request.TargetPath = target;
    edit(request);
    return restore.Restore(request);
  }

  TBackupPlan plan;
  std::string folder, report, target;
};

TEST_F(FolderRestoreTest, WholeTreeSubFolderAndOneFileAtAnOlderRevision) {
  TRestoreResult whole = RestoreWith([](TRestoreRequest&) {});
  ASSERT_TRUE(whole.Success) << whole.Message;
  EXPECT_THAT(TreeFiles(target), ElementsAre("alt/ic/not.txt", "alt/liste.csv", "rapor.txt"));
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "rapor son hali");
  EXPECT_EQ(ReadFile(target + "/alt/ic/not.txt"), "ic not");
  EXPECT_EQ(whole.Message, "3 dosya geri yuklendi: " + target);

  target = testEnv->Root() + "/alt-hedef";
  TRestoreResult sub = RestoreWith([](TRestoreRequest& r) { r.SubFolder = "alt/"; });
  ASSERT_TRUE(sub.Success) << sub.Message;
  EXPECT_THAT(TreeFiles(target), ElementsAre("ic/not.txt", "liste.csv"));

  target = testEnv->Root() + "/tek";
  TRestoreService restore(Env());
  TRestorePlan loaded = LoadPlan(restore, "Belgeler");
  TRestoreBackup file = Named(Backups(restore, loaded), "rapor.txt");
  std::vector<TRestoreVersion> versions = Versions(restore, file);
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_TRUE(versions[0].Current);
  TRestoreRequest request = TRestoreRequest::For(loaded, file, versions[1]);
  request.TargetPath = target;
  TRestoreResult one = restore.Restore(request);
  ASSERT_TRUE(one.Success) << one.Message;
  EXPECT_THAT(TreeFiles(target), ElementsAre("rapor.txt"));
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "rapor ilk hali");
  EXPECT_TRUE(WorkFoldersEmpty());
}

TEST_F(FolderRestoreTest, ExistingFilesAreReplacedOnlyWithConsent) {
  WriteFile(target + "/rapor.txt", "yerel");
  TRestoreResult refused = RestoreWith([](TRestoreRequest&) {});
  EXPECT_FALSE(refused.Success);
  EXPECT_THAT(refused.Conflicts, ElementsAre(target + "/rapor.txt"));
  EXPECT_THAT(TreeFiles(target), ElementsAre("rapor.txt"));  // nothing else written
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "yerel");

  TRestoreResult replaced = RestoreWith([](TRestoreRequest& r) { r.ReplaceExisting = true; });
  ASSERT_TRUE(replaced.Success) << replaced.Message;
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "rapor son hali");
  EXPECT_THAT(TreeFiles(target), ElementsAre("alt/ic/not.txt", "alt/liste.csv", "rapor.txt"));
}

TEST_F(FolderRestoreTest, ACancelledRestoreLeavesTheTargetAsItWas) {
  WriteFile(target + "/rapor.txt", "yerel");
  TRestoreService restore(Env());
  TRestoreRequest request;
  request.Plan = LoadPlan(restore, "Belgeler");
  request.TargetPath = target;
  request.ReplaceExisting = true;
  int downloads = 0;
  restore.SetOnProgress([&](const TRestoreProgress& p) {
    if (p.Stage == "Indirme" && p.Total > 0 && ++downloads == 2) restore.Cancel();
  });
  TRestoreResult result = restore.Restore(request);
  EXPECT_FALSE(result.Success);
  EXPECT_EQ(result.Message, "Geri yukleme iptal edildi.");
  EXPECT_THAT(TreeFiles(target), ElementsAre("rapor.txt"));
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "yerel");
  EXPECT_TRUE(WorkFoldersEmpty());
}

TEST_F(FolderRestoreTest, ALinkInTheTargetIsNeverFollowed) {
  const std::string outside = testEnv->Root() + "/disari";
  fs::create_directories(outside);
  fs::create_directories(target);
  fs::create_directory_symlink(outside, target + "/alt");
  TRestoreResult result = RestoreWith([](TRestoreRequest& r) { r.ReplaceExisting = true; });
  EXPECT_FALSE(result.Success);
  EXPECT_THAT(result.Message, ::testing::HasSubstr("baglanti izlenmez"));
  EXPECT_TRUE(TreeFiles(outside).empty());
  EXPECT_FALSE(fs::exists(target + "/rapor.txt"));  // nothing of the restore stays
}

TEST_F(FolderRestoreTest, HostileNamesFromDriveStayInsideTheTarget) {
  for (const char* name : {"../../kacak1.txt", "..\\..\\kacak2.txt", "/tmp/kacak3.txt", "a\x01\x7f" "b"})
    Google().AddFile(name, folder, std::string("hostile ") + name);
  Google().AddFile("kacak4.txt", Google().AddFolder("..", folder), "parent");
  TRestoreResult result = RestoreWith([](TRestoreRequest&) {});
  ASSERT_TRUE(result.Success) << result.Message;
  for (const std::string& written : result.Restored) {
    const std::string rel = fs::relative(written, target).string();
    EXPECT_TRUE(rel != ".." && !StartsWith(rel, "../")) << written;
  }
  // Only the target and the emulator's own files are below the test's root.
  for (const std::string& file : TreeFiles(testEnv->Root()))
    if (file.find("kacak") != std::string::npos) {
      EXPECT_TRUE(StartsWith(file, "hedef/")) << file;
    }
  EXPECT_FALSE(fs::exists("/tmp/kacak3.txt"));
  EXPECT_THAT(TreeFiles(target), ::testing::Contains("dosya/kacak4.txt"));
}

}  // namespace
}  // namespace calvora::test
