#include "EngineTestSupport.h"

#include "AccountDirectoryState.h"
#include "engine/uFileHasher.h"
#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/testing/unreadable_file.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace calvora {
namespace {

namespace fs = std::filesystem;

class FolderSyncTest : public test::EngineTest {
 protected:
  FolderSyncTest() { source = testEnv->Root() + "/kaynak"; }

  TBackupPlan FolderPlan() const {
    TBackupPlan plan;
    plan.ID = "{AAAAAAAA-2222-3333-4444-555555555555}";
    plan.Name = "Belgeler";
    plan.BackupType = "folder";
    plan.SourceFolder = source;
    plan.DriveSubFolder = "Belgeler";
    return plan;
  }

  bool Run(std::string& message, TBackupPlan plan) {
    auto engine = MakeEngine();
    std::string file;
    const bool ok = engine->BackupPlan(plan, file, message);
    if (ok) {
      EXPECT_EQ(file, Trim(plan.SourceFolder));
    }
    return ok;
  }
  bool Run(std::string& message) { return Run(message, FolderPlan()); }

  // Files below the plan's Drive folder: relative path -> MD5.
  std::map<std::string, std::string> DriveFiles() {
    std::map<std::string, std::string> files;
    const std::string prefix = "Deneme Ltd/Belgeler/";
    for (const auto& entry : Google().ListTree())
      if (!entry.folder && StartsWith(entry.path, prefix)) files[entry.path.substr(prefix.size())] = entry.md5;
    return files;
  }

  void Write(const std::string& rel, const std::string& content) { test::WriteFile(source + "/" + rel, content); }

  std::string source;
};

TEST_F(FolderSyncTest, NestedTreeIsMirroredThenFoundUnchangedThenUpdatedInPlace) {
  Write("a.txt", "alfa");
  Write("sub/dir/report.xlsx", "rapor v1");
  Write("sub/b.bin", "beta");
  std::string message;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "3 dosya kontrol edildi: 3 yeni, 0 guncellendi, 0 degismemis.");
  EXPECT_EQ(DriveFiles(), (std::map<std::string, std::string>{{"a.txt", Md5Hex("alfa")},
                                                               {"sub/b.bin", Md5Hex("beta")},
                                                               {"sub/dir/report.xlsx", Md5Hex("rapor v1")}}));

  // No change: nothing written below the plan's folder.
  const auto treeBefore = Google().ListTree();
  Cloud().ResetCounts();
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "3 dosya kontrol edildi: 0 yeni, 0 guncellendi, 3 degismemis.");
  const std::int64_t readsForThree = Cloud().RequestCount("GET", "/drive/v3/files");
  const auto treeAfter = Google().ListTree();
  ASSERT_EQ(treeAfter.size(), treeBefore.size());
  for (size_t i = 0; i < treeAfter.size(); ++i) {
    if (StartsWith(treeAfter[i].path, "Deneme Ltd/Belgeler")) {
      EXPECT_EQ(treeAfter[i].revisions, treeBefore[i].revisions) << treeAfter[i].path;
    }
  }

  // Each Drive folder is listed once per run: more files in the same
  // folders cost no more requests.
  for (int i = 0; i < 12; ++i) Write("sub/dir/ek" + std::to_string(i) + ".txt", "ek");
  ASSERT_TRUE(Run(message)) << message;
  Cloud().ResetCounts();
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "15 dosya kontrol edildi: 0 yeni, 0 guncellendi, 15 degismemis.");
  EXPECT_EQ(Cloud().RequestCount("GET", "/drive/v3/files"), readsForThree);
  for (int i = 0; i < 12; ++i) fs::remove(source + "/sub/dir/ek" + std::to_string(i) + ".txt");

  // Same size with other content (found by its digest), a longer file, and
  // a file deleted locally, which stays on Drive.
  Write("a.txt", "ALFA");
  Write("sub/b.bin", "beta, uzun");
  fs::remove(source + "/sub/dir/report.xlsx");
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "2 dosya kontrol edildi: 0 yeni, 2 guncellendi, 0 degismemis.");
  auto files = DriveFiles();
  EXPECT_EQ(files.size(), 15u);
  EXPECT_EQ(files["a.txt"], Md5Hex("ALFA"));
  EXPECT_EQ(files["sub/b.bin"], Md5Hex("beta, uzun"));
  EXPECT_EQ(files["sub/dir/report.xlsx"], Md5Hex("rapor v1"));
  int revisions = 0;
  for (const auto& entry : Google().ListTree())
    if (entry.path == "Deneme Ltd/Belgeler/a.txt") revisions = entry.revisions;
  EXPECT_EQ(revisions, 2);
}

TEST_F(FolderSyncTest, NamesThatDifferOnlyInCaseKeepTheirOwnCopies) {
  Write("Rapor.txt", "buyuk");
  Write("rapor.txt", "kucuk");
  std::string message;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(DriveFiles(), (std::map<std::string, std::string>{{"Rapor.txt", Md5Hex("buyuk")},
                                                               {"rapor.txt", Md5Hex("kucuk")}}));
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "2 dosya kontrol edildi: 0 yeni, 0 guncellendi, 2 degismemis.");
}

TEST_F(FolderSyncTest, NothingToBackUpLeavesDriveAlone) {
  const std::string empty =
      "Yedeklenecek dosya yok (klasor bos veya politika filtreleri tum dosyalari disladi). Drive tarafinda "
      "degisiklik yapilmadi.";
  ForceDirectories(source + "/bos/alt");
  std::string message;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, empty);

  // A policy whose excludes take every file.
  Write("a.txt", "x");
  Write("sub/b.log", "y");
  Cloud().Account().Write("YedeklemePolitikalari/p1",
                          devcloud::DatabaseJson{{"Ad", "Hicbiri"}, {"HaricListesi", {"*.txt", "*.log"}}});
  Cloud().Account().Write("Lisanslar/musteri/YedeklemePolitikaId", "p1");
  test::TLogCapture log;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, empty);
  EXPECT_TRUE(log.Contains(TLogLevel::Info,
                           "Yedekleme politikasi \"Hicbiri\" uygulandi (plan: Belgeler): 2 dosyadan 0 tanesi "
                           "yedeklenecek."));
  EXPECT_TRUE(DriveFiles().empty());
}

TEST_F(FolderSyncTest, PolicyNarrowsTheFilesAndAnUnreadablePolicyFailsTheRun) {
  Write("a.txt", "x");
  Write("b.pdf", "y");
  Cloud().Account().Write("YedeklemePolitikalari/p1",
                          devcloud::DatabaseJson{{"Ad", "PDF"}, {"DahilListesi", {"*.PDF"}}});
  Cloud().Account().Write("Lisanslar/musteri/YedeklemePolitikaId", "p1");
  std::string message;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, "1 dosya kontrol edildi: 1 yeni, 0 guncellendi, 0 degismemis.");
  EXPECT_EQ(DriveFiles().count("b.pdf"), 1u);

  // Assigned but missing: the plan must not run unfiltered.
  Cloud().Account().Write("Lisanslar/musteri/YedeklemePolitikaId", "yok");
  EXPECT_FALSE(Run(message));
  EXPECT_EQ(message.rfind("Hesaba atanan yedekleme politikasi okunamadi: ", 0), 0u) << message;
}

TEST_F(FolderSyncTest, MissingSourceFailsWithItsText) {
  struct Case {
    std::string folder;
    std::string message;
  } cases[] = {
      {"   ", "Klasor yedegi icin kaynak klasor girilmemis."},
      {testEnv->Root() + "/yok", "Kaynak klasor bulunamadi: " + testEnv->Root() + "/yok"},
  };
  for (const auto& c : cases) {
    TBackupPlan plan = FolderPlan();
    plan.SourceFolder = c.folder;
    std::string message;
    EXPECT_FALSE(Run(message, plan));
    EXPECT_EQ(message, c.message);
  }
}

TEST_F(FolderSyncTest, QuotaRefusalStopsTheRunAndKeepsWhatWasUploaded) {
  // 1 MiB quota, five files of 400 KiB: the third does not fit.
  Cloud().Account().Write("Lisanslar/musteri/KotaMB", 1);
  for (int i = 1; i <= 5; ++i) WriteBytes(source + "/dosya" + std::to_string(i) + ".dat", 400 * 1024);
  std::string message;
  EXPECT_FALSE(Run(message));
  EXPECT_EQ(message.rfind("Kota yetersiz: dosya", 0), 0u) << message;
  EXPECT_NE(message.find(".dat | Disk alani yetersiz. Hesap kotasi asiliyor. Kullanilan: 800.00 KB, Limit: 1.00 MB, "
                         "Gerekli ek alan: 400.00 KB."),
            std::string::npos)
      << message;
  EXPECT_EQ(DriveFiles().size(), 2u);
}

TEST_F(FolderSyncTest, LockedFileIsReadThroughACopyOrSkipped) {
  if (!platform::testing::RunningAsAdministrator()) GTEST_SKIP() << "needs root to hand the file to another user";
  Write("acik.txt", "serbest");
  Write("kilitli.db", "kilitli icerik");
  test::InstallRealScripts(ProgramDir());
  {
    test::TLogCapture log;
    platform::testing::ScopedUnreadableFile locked(source + "/kilitli.db");
    ASSERT_TRUE(locked.Active());
    std::string message;
    ASSERT_TRUE(Run(message)) << message;
    EXPECT_EQ(message, "2 dosya kontrol edildi: 2 yeni, 0 guncellendi, 0 degismemis.");
    EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Snapshot kopyasi kullaniliyor: kilitli.db"));
  }
  EXPECT_EQ(DriveFiles()["kilitli.db"], Md5Hex("kilitli icerik"));
  // The copy and its folder are gone.
  const std::string copies = testEnv->TempDir() + "/CalvoraReadableCopies";
  EXPECT_TRUE(!fs::exists(copies) || fs::is_empty(copies));

  // Without the script the file is skipped and the run still succeeds.
  fs::remove(ProgramDir() + "/sql/CopyLockedFile.py");
  Write("kilitli.db", "yeni icerik");
  test::TLogCapture log;
  platform::testing::ScopedUnreadableFile locked(source + "/kilitli.db");
  ASSERT_TRUE(locked.Active());
  std::string message;
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message,
            "2 dosya kontrol edildi: 0 yeni, 0 guncellendi, 1 degismemis. 1 dosya baska uygulama tarafindan acik "
            "oldugu icin atildi.");
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Dosya okunamadi, snapshot da basarisiz: kilitli.db | "
                                            "Kilitli dosya kopyalama script dosyasi bulunamadi: "));
  EXPECT_EQ(DriveFiles()["kilitli.db"], Md5Hex("kilitli icerik"));
}

TEST(FileMD5, DigestsInLowerCaseHexAndNamesTheMissingFile) {
  test::TTempDir dir;
  test::WriteFile(dir.File("empty"), "");
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
  test::WriteFile(dir.File("big"), big);
  EXPECT_EQ(FileMD5(dir.File("empty")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(FileMD5(dir.File("big")), Md5Hex(big));
  try {
    FileMD5(dir.File("none"));
    ADD_FAILURE() << "no error";
  } catch (const EFileError&) {
    ADD_FAILURE() << "a missing file is not a locked one";
  } catch (const EAppError& e) {
    EXPECT_EQ(std::string(e.what()), "Dosya bulunamadı: " + dir.File("none"));
  }
}

}  // namespace
}  // namespace calvora
