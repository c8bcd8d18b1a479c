// Retention of local and Drive backups and the clean-up of failed files,
// measured against the test's clock.
#include "EngineTestSupport.h"

#include "foundation/TextFile.h"
#include "platform/file_io.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class RetentionTest : public EngineTest {
 protected:
  // A work-folder file last written `seconds` before the test's now.
  void Aged(const std::string& name, std::int64_t seconds) {
    const std::string path = WorkDir() + "/" + name;
    WriteFile(path, "x");
    platform::SetFileModifiedUnix(path, LocalDateTimeToUnix(IncSeconds(Clock().Now(), -seconds)));
  }

  std::string DriveFileAged(const std::string& name, const std::string& folder, std::int64_t seconds,
                            bool isFolder = false) {
    std::string id = isFolder ? Google().AddFolder(name, folder) : Google().AddFile(name, folder, "x");
    Google().SetModifiedTime(id, static_cast<std::int64_t>(
                                     LocalDateTimeToUnix(IncSeconds(Clock().Now(), -seconds)) * 1000));
    return id;
  }

  static constexpr std::int64_t kDay = 86400;
};

TEST_F(RetentionTest, LocalBackupsOlderThanTheRetentionGo) {
  Aged("Muhasebe_.bak", 7 * kDay + 1);
  Aged("Muhasebe_.rar", 6 * kDay);
  Aged("Muhasebe_.failed.bak", 30 * kDay);  // left to the failed-file clean-up
  Aged("Muhasebe_2024_.bak", 9 * kDay);     // another plan's, though it starts with the prefix
  Aged("Stok_.bak", 9 * kDay);
  Aged("Muhasebe_.fbk", 9 * kDay);  // not a SQL backup

  TBackupPlan plan = SqlPlan();
  plan.LocalBackupRetentionDays = 0;
  auto engine = MakeEngine();
  engine->ApplyLocalRetention(plan);
  EXPECT_EQ(WorkFiles().size(), 6u);

  plan.LocalBackupRetentionDays = 7;
  TLogCapture log;
  engine->ApplyLocalRetention(plan);
  EXPECT_THAT(WorkFiles(), ElementsAre("Muhasebe_.failed.bak", "Muhasebe_.fbk", "Muhasebe_.rar", "Muhasebe_2024_.bak",
                                       "Stok_.bak"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Eski local backup dosyasi temizlendi: " + WorkDir() + "/Muhasebe_.bak"));
}

TEST_F(RetentionTest, FirebirdRetentionLooksAtItsOwnBackupsOnly) {
  Aged("STOK_.fbk", 8 * kDay);
  Aged("STOK_.failed.fbk", 8 * kDay);  // matches the Firebird pattern like any other file
  Aged("STOK_.bak", 8 * kDay);
  TBackupPlan plan = SqlPlan();
  plan.BackupType = "firebird";
  plan.DatabaseName = "/data/STOK.FDB";
  plan.LocalBackupRetentionDays = 7;
  MakeEngine()->ApplyLocalRetention(plan);
  EXPECT_THAT(WorkFiles(), ElementsAre("STOK_.bak"));
}

TEST_F(RetentionTest, FailedFilesOfAnyPlanGoAfterTheirHoursButTheSparedOneStays) {
  Aged("Baska_.failed.rar", 25 * 3600);
  Aged("Muhasebe_.failed.bak", 23 * 3600);
  Aged("Muhasebe_.part2.failed.rar", 48 * 3600);
  Aged("Muhasebe_.bak", 48 * 3600);
  TBackupPlan plan = SqlPlan();
  plan.FailedFileRetentionHours = 24;

  plan.CleanupFailedFiles = false;
  auto engine = MakeEngine();
  engine->CleanupOldFailedFiles(plan, "");
  EXPECT_EQ(WorkFiles().size(), 4u);

  plan.CleanupFailedFiles = true;
  engine->CleanupOldFailedFiles(plan, WorkDir() + "//Muhasebe_.PART2.failed.rar");
  EXPECT_THAT(WorkFiles(), ElementsAre("Muhasebe_.bak", "Muhasebe_.failed.bak", "Muhasebe_.part2.failed.rar"));
}

TEST_F(RetentionTest, DriveRetentionDeletesOnlyOldBackupsOfThePlan) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  DriveFileAged("Muhasebe_.bak", folder, 8 * kDay);
  DriveFileAged("Muhasebe_.failed.bak", folder, 8 * kDay);
  DriveFileAged("notes.txt", folder, 8 * kDay);
  DriveFileAged("Muhasebe_.rar", folder, 8 * kDay, true);  // a folder, whatever its name
  DriveFileAged("Muhasebe_.part2.rar", folder, 2 * kDay);
  DriveFileAged("Stok_.bak", folder, 8 * kDay);

  TBackupPlan plan = SqlPlan();
  plan.LocalBackupRetentionDays = 0;
  engine->ApplyDriveRetention(plan);
  EXPECT_EQ(DriveNames(folder).size(), 6u);

  plan.LocalBackupRetentionDays = 7;
  TLogCapture log;
  engine->ApplyDriveRetention(plan);
  EXPECT_THAT(DriveNames(folder), UnorderedElementsAre("Muhasebe_.failed.bak", "notes.txt", "Muhasebe_.rar",
                                                       "Muhasebe_.part2.rar", "Stok_.bak"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Eski Drive backup dosyasi silindi: Muhasebe_.bak ("));
}

// Nothing is deleted on the strength of a listing Drive did not finish.
TEST_F(RetentionTest, DriveRetentionSkipsAListingItCannotFinish) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  DriveFileAged("Muhasebe_.bak", folder, 8 * kDay);
  TBackupPlan plan = SqlPlan();
  plan.LocalBackupRetentionDays = 7;
  for (auto kind : {devcloud::FaultRule::Kind::Status, devcloud::FaultRule::Kind::RepeatPageToken}) {
    devcloud::FaultRule rule;
    rule.kind = kind;
    rule.status = 500;
    rule.method = "GET";
    rule.pathPattern = "^/drive/v3/files$";
    rule.remaining = 1000;
    Cloud().AddFault(rule);
    TLogCapture log;
    engine->ApplyDriveRetention(plan);
    Cloud().ClearFaults();
    EXPECT_THAT(DriveNames(folder), ElementsAre("Muhasebe_.bak"));
    EXPECT_TRUE(
        log.Contains(TLogLevel::Warn, "Drive retention atlandi; klasor listelenemedi. Plan: Gunluk Muhasebe | "));
  }
  engine->ApplyDriveRetention(plan);
  EXPECT_THAT(DriveNames(folder), ::testing::IsEmpty());
}

TEST_F(RetentionTest, MultiDatabasePlanCoversEachDatabasesFiles) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  DriveFileAged("A_.bak", folder, 8 * kDay);
  DriveFileAged("B__FULL.bak", folder, 8 * kDay);
  DriveFileAged("C_.bak", folder, 8 * kDay);
  TBackupPlan plan = SqlPlan("A;B");
  plan.LocalBackupRetentionDays = 7;
  engine->ApplyDriveRetention(plan);
  EXPECT_THAT(DriveNames(folder), ElementsAre("C_.bak"));
}

TEST_F(RetentionTest, PlansSharingFoldersDeleteOnlyTheNamesTheyWrite) {
  auto engine = MakeEngine();
  const std::string folder = engine->AccountRootFolderId();
  const std::vector<std::string> first = {"Muhasebe_.bak",       "Muhasebe__FULL.bak",  "muhasebe__diff.BAK",
                                          "Muhasebe_.rar",       "Muhasebe_.part1.rar", "Muhasebe_.part02.rar",
                                          "Muhasebe__DIFF.part1.rar"};
  const std::vector<std::string> second = {"Muhasebe_2024_.bak", "Muhasebe_2024__FULL.bak",
                                           "Muhasebe_2024_.part1.rar"};
  // Written by neither: a third plan's backup, a Firebird backup, a file of
  // the user's, a fresh volume of the first plan.
  const std::vector<std::string> others = {"Muhasebe_yedek_.bak", "Muhasebe_.fbk", "Muhasebe_eski.bak",
                                           "Muhasebe__FULL.bak.rar"};
  for (const auto* names : {&first, &second, &others}) {
    for (const std::string& name : *names) {
      Aged(name, 9 * kDay);
      DriveFileAged(name, folder, 9 * kDay);
    }
  }
  Aged("Muhasebe_.part3.rar", 2 * kDay);
  DriveFileAged("Muhasebe_.part3.rar", folder, 2 * kDay);

  TBackupPlan muhasebe = SqlPlan("Muhasebe");
  TBackupPlan muhasebe2024 = SqlPlan("Muhasebe 2024");
  for (TBackupPlan* plan : {&muhasebe, &muhasebe2024}) plan->LocalBackupRetentionDays = 7;
  const std::vector<std::string> after = {"Muhasebe_.fbk", "Muhasebe_.part3.rar", "Muhasebe__FULL.bak.rar",
                                          "Muhasebe_eski.bak", "Muhasebe_yedek_.bak"};
  auto withSecond = after;
  withSecond.insert(withSecond.end(), second.begin(), second.end());
  std::sort(withSecond.begin(), withSecond.end());

  engine->ApplyLocalRetention(muhasebe);
  engine->ApplyDriveRetention(muhasebe);
  EXPECT_EQ(WorkFiles(), withSecond);
  auto onDrive = DriveNames(folder);
  std::sort(onDrive.begin(), onDrive.end());
  EXPECT_EQ(onDrive, withSecond);

  engine->ApplyLocalRetention(muhasebe2024);
  engine->ApplyDriveRetention(muhasebe2024);
  EXPECT_EQ(WorkFiles(), after);
  onDrive = DriveNames(folder);
  std::sort(onDrive.begin(), onDrive.end());
  EXPECT_EQ(onDrive, after);
}

TEST_F(RetentionTest, DriveFolderThatCannotBeMadeSkipsOrFailsTheRun) {
  auto engine = MakeEngine();
  engine->AccountRootFolderId();
  TBackupPlan plan = SqlPlan();
  plan.LocalBackupRetentionDays = 7;
  plan.DriveSubFolder = "Yeni";

  // Drive answers with an error: nothing to clean, the run goes on.
  Cloud().InjectStatus("POST", "^/drive/v3/files$", 1, 500);
  TLogCapture log;
  engine->ApplyDriveRetention(plan);
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Drive retention atlandi; hedef klasor bulunamadi. Plan: Gunluk Muhasebe"));

  // No answer at all: the error reaches the plan run.
  devcloud::FaultRule drop;
  drop.kind = devcloud::FaultRule::Kind::DropRequest;
  drop.method = "POST";
  drop.pathPattern = "^/drive/v3/files$";
  Cloud().AddFault(drop);
  EXPECT_ANY_THROW(engine->ApplyDriveRetention(plan));
}

}  // namespace
}  // namespace calvora::test
