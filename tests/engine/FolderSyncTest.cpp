#include "EngineTestSupport.h"

#include "AccountDirectoryState.h"
#include "engine/uFileHasher.h"
#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/testing/unreadable_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>

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

  bool Run(std::string& message, TBackupPlan plan, int workers = TCloudBackupService::kFolderUploadWorkers) {
    auto engine = MakeEngine();
    engine->SetFolderUploadWorkers(workers);
    std::string file;
    const bool ok = engine->BackupPlan(plan, file, message);
    if (ok) {
      EXPECT_EQ(file, Trim(plan.SourceFolder));
    }
    return ok;
  }
  bool Run(std::string& message) { return Run(message, FolderPlan()); }

  // Files below the plan's Drive folder: relative path -> MD5.
  std::map<std::string, std::string> DriveFiles(const std::string& folder = "Belgeler") {
    std::map<std::string, std::string> files;
    const std::string prefix = "Deneme Ltd/" + folder + "/";
    for (const auto& entry : Google().ListTree())
      if (!entry.folder && StartsWith(entry.path, prefix)) files[entry.path.substr(prefix.size())] = entry.md5;
    return files;
  }
  // Every entry (folders too) below the plan's Drive folder, a second copy
  // of a path counted again.
  std::vector<std::string> DriveEntries(const std::string& folder = "Belgeler") {
    std::vector<std::string> paths;
    const std::string prefix = "Deneme Ltd/" + folder + "/";
    for (const auto& entry : Google().ListTree())
      if (StartsWith(entry.path, prefix)) paths.push_back(entry.path.substr(prefix.size()));
    std::sort(paths.begin(), paths.end());
    return paths;
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

// The same trees uploaded one file at a time and by the worker pool end up
// alike on Drive, with the same counters and message, first and again.
TEST_F(FolderSyncTest, ParallelUploadsLeaveWhatASequentialRunLeaves) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> write;      // fills the source folder
    std::function<void(const std::string&)> change;     // between the runs, may be empty
    bool locked = false;                                 // one file held by another program
  };
  auto file = [](const std::string& root, const std::string& rel, const std::string& content) {
    test::WriteFile(root + "/" + rel, content);
  };
  const Case cases[] = {
      {"flat", [&](const std::string& r) { for (int i = 0; i < 14; ++i) file(r, "f" + std::to_string(i) + ".txt", "icerik " + std::to_string(i)); },
       nullptr},
      {"deep", [&](const std::string& r) {
         std::string dir;
         for (int level = 0; level < 6; ++level) {
           dir += "k" + std::to_string(level) + "/";
           file(r, dir + "a.txt", "seviye " + std::to_string(level));
           file(r, dir + "b.txt", "ikinci " + std::to_string(level));
         }
       },
       nullptr},
      {"names differing in case", [&](const std::string& r) {
         file(r, "Rapor.txt", "buyuk");
         file(r, "rapor.txt", "kucuk");
         file(r, "RAPOR.txt", "hepsi");
         file(r, "Alt/x.txt", "alt buyuk");
         file(r, "alt/y.txt", "alt kucuk");
       },
       nullptr},
      {"empty files", [&](const std::string& r) {
         for (int i = 0; i < 5; ++i) file(r, "bos" + std::to_string(i), "");
         file(r, "dolu", "x");
         WriteBytes(r + "/buyuk.bin", 6 * 1024 * 1024 + 5);  // a resumable session
       },
       nullptr},
      {"changed between runs", [&](const std::string& r) {
         for (int i = 0; i < 9; ++i) file(r, "d/" + std::to_string(i) + ".txt", "ilk " + std::to_string(i));
       },
       [&](const std::string& r) {
         file(r, "d/1.txt", "ILK 1");          // same size, other content
         file(r, "d/4.txt", "ilk 4, uzadi");   // longer
         file(r, "d/7.txt", "");               // emptied
         file(r, "d/yeni.txt", "yeni");
       }},
      {"a file that changes during the run", [&](const std::string& r) {
         for (int i = 0; i < 10; ++i) file(r, "g" + std::to_string(i) + ".txt", "once " + std::to_string(i));
         // The file listed last is rewritten (longer) when the first upload
         // reaches Drive: both ways it is read after that.
         std::string last;
         for (const auto& entry : fs::recursive_directory_iterator(r)) last = entry.path().string();
         Cloud().SetRequestObserver([last, done = std::make_shared<std::atomic<bool>>(false)](
                                        const std::string& method, const std::string& path) {
           if (method != "POST" || path != "/upload/drive/v3/files" || done->exchange(true)) return;
           test::WriteFile(last, "sonra degisti, daha uzun");
         });
       },
       nullptr},
      {"locked file", [&](const std::string& r) {
         for (int i = 0; i < 6; ++i) file(r, "s" + std::to_string(i) + ".txt", "serbest " + std::to_string(i));
         file(r, "kilitli.db", "kilitli icerik");
       },
       nullptr, true},
  };
  const bool root = platform::testing::RunningAsAdministrator();
  test::InstallRealScripts(ProgramDir());
  int index = 0;
  for (const Case& c : cases) {
    if (c.locked && !root) continue;
    SCOPED_TRACE(c.name);
    ++index;
    std::vector<std::string> messages[2];
    for (int workers : {1, 4}) {
      TBackupPlan plan = FolderPlan();
      plan.SourceFolder = testEnv->Root() + "/agac" + std::to_string(index) + "-" + std::to_string(workers);
      plan.DriveSubFolder = "Agac" + std::to_string(index) + "-" + std::to_string(workers);
      c.write(plan.SourceFolder);
      auto& runs = messages[workers == 1 ? 0 : 1];
      for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1 && c.change) c.change(plan.SourceFolder);
        std::string message;
        {
          std::unique_ptr<platform::testing::ScopedUnreadableFile> locked;
          if (c.locked) locked = std::make_unique<platform::testing::ScopedUnreadableFile>(plan.SourceFolder + "/kilitli.db");
          EXPECT_TRUE(Run(message, plan, workers)) << message;
        }
        runs.push_back(message);
        Cloud().SetRequestObserver(nullptr);
      }
    }
    EXPECT_EQ(messages[0], messages[1]);
    EXPECT_EQ(DriveEntries("Agac" + std::to_string(index) + "-1"), DriveEntries("Agac" + std::to_string(index) + "-4"));
    EXPECT_EQ(DriveFiles("Agac" + std::to_string(index) + "-1"), DriveFiles("Agac" + std::to_string(index) + "-4"));
    EXPECT_FALSE(DriveFiles("Agac" + std::to_string(index) + "-4").empty());
    if (std::string(c.name) == "a file that changes during the run") {
      int changed = 0;
      for (const auto& [path, md5] : DriveFiles("Agac" + std::to_string(index) + "-4"))
        if (md5 == Md5Hex("sonra degisti, daha uzun")) ++changed;
      EXPECT_EQ(changed, 1) << "the content read after the change is the one on Drive";
    }
  }
  const std::string copies = testEnv->TempDir() + "/CalvoraReadableCopies";
  EXPECT_TRUE(!fs::exists(copies) || fs::is_empty(copies));
}

TEST_F(FolderSyncTest, ParallelQuotaRefusesTheFileASequentialRunRefuses) {
  // 1 MiB quota, four files of 400 KiB: together they do not fit.
  Cloud().Account().Write("Lisanslar/musteri/KotaMB", 1);
  for (int i = 1; i <= 4; ++i) WriteBytes(source + "/dosya" + std::to_string(i) + ".dat", 400 * 1024);
  std::string sequential, parallel;
  EXPECT_FALSE(Run(sequential, FolderPlan(), 1));
  const auto uploaded = DriveFiles();
  ASSERT_EQ(uploaded.size(), 2u);
  // Out of the way (trashed files do not count), then the same with four workers.
  for (const auto& entry : Google().ListTree())
    if (!entry.folder && StartsWith(entry.path, "Deneme Ltd/Belgeler/")) Google().SetTrashed(entry.id, true);
  EXPECT_FALSE(Run(parallel, FolderPlan(), 4));
  EXPECT_EQ(parallel, sequential);
  EXPECT_EQ(parallel.rfind("Kota yetersiz: dosya", 0), 0u) << parallel;
  EXPECT_EQ(DriveFiles(), uploaded);
}

TEST_F(FolderSyncTest, RateLimitsOnAFifthOfTheRequestsAreWaitedOut) {
  for (int i = 0; i < 16; ++i) Write("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt", "icerik " + std::to_string(i));
  WriteBytes(source + "/buyuk.bin", 6 * 1024 * 1024);
  for (const auto& [status, reason] : {std::pair<int, const char*>{429, "rateLimitExceeded"},
                                       std::pair<int, const char*>{403, "userRateLimitExceeded"}}) {
    SCOPED_TRACE(reason);
    devcloud::FaultRule rule;
    rule.pathPattern = "^/(drive|upload)/";
    rule.status = status;
    rule.reason = reason;
    rule.every = 5;
    rule.remaining = 1000;
    Cloud().AddFault(rule);
    TBackupPlan plan = FolderPlan();
    plan.DriveSubFolder = std::string("Sinir") + std::to_string(status);
    std::string message;
    EXPECT_TRUE(Run(message, plan)) << message;
    Cloud().ClearFaults();
    EXPECT_EQ(message, "17 dosya kontrol edildi: 17 yeni, 0 guncellendi, 0 degismemis.");
    const auto entries = DriveEntries(plan.DriveSubFolder);
    EXPECT_EQ(entries.size(), 20u) << "17 files and 3 folders, each once";
    EXPECT_EQ(std::adjacent_find(entries.begin(), entries.end()), entries.end());
    EXPECT_TRUE(Run(message, plan)) << message;
    EXPECT_EQ(message, "17 dosya kontrol edildi: 0 yeni, 0 guncellendi, 17 degismemis.");
  }
  EXPECT_FALSE(Clock().Sleeps().empty()) << "the limits were waited out";
}

TEST_F(FolderSyncTest, AFailingWorkerFailsTheRunAndARerunAddsNoDuplicate) {
  for (int i = 0; i < 12; ++i) Write("f" + std::to_string(i) + ".txt", "icerik " + std::to_string(i));
  // The sixth upload is refused outright.
  devcloud::FaultRule rule;
  rule.method = "POST";
  rule.pathPattern = "^/upload/drive/v3/files$";
  rule.status = 400;
  rule.reason = "badRequest";
  rule.skip = 5;
  Cloud().AddFault(rule);
  std::string message;
  EXPECT_FALSE(Run(message));
  EXPECT_EQ(message.rfind("Drive upload basarisiz: f", 0), 0u) << message;
  const size_t uploaded = DriveFiles().size();
  EXPECT_GE(uploaded, 5u);
  EXPECT_LT(uploaded, 12u);

  Cloud().ClearFaults();
  ASSERT_TRUE(Run(message)) << message;
  EXPECT_EQ(message, Fmt("12 dosya kontrol edildi: %d yeni, 0 guncellendi, %d degismemis.",
                         static_cast<int>(12 - uploaded), static_cast<int>(uploaded)));
  const auto entries = DriveEntries();
  EXPECT_EQ(entries.size(), 12u);
  EXPECT_EQ(std::adjacent_find(entries.begin(), entries.end()), entries.end());
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
