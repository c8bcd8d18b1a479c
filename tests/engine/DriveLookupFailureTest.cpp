// A Drive lookup or listing that gets no usable answer, at any point of a
// plan run: the run may fail, but it never creates a second folder or file
// of a name that exists, and the next clean run finds everything again.
#include "EngineTestSupport.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <set>

namespace calvora::test {
namespace {

using Kind = devcloud::FaultRule::Kind;

constexpr const char* kUnencrypted =
    R"({"success": true, "tdeSupported": true, "tdeIsEncrypted": false, "tdeDetailAvailable": true})";

class DriveLookupFailureTest : public EngineTest {
 protected:
  DriveLookupFailureTest() {
    InstallFakeScript(ProgramDir(), "BackupDatabase.py");
    WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": {"result": )") + kUnencrypted +
                                    R"(}, "backup": {"writeBytes": 3000, "result": {"success": true}}})");
    const std::string source = testEnv->Root() + "/kaynak";
    WriteFile(source + "/a.txt", "alfa");
    WriteFile(source + "/sub/dir/report.xlsx", "rapor");
    folderPlan.ID = "{AAAAAAAA-2222-3333-4444-555555555555}";
    folderPlan.Name = "Belgeler";
    folderPlan.BackupType = "folder";
    folderPlan.SourceFolder = source;
    folderPlan.DriveSubFolder = "Belgeler";
    sqlPlan = SqlPlan();
    sqlPlan.DriveSubFolder = "Sunucu\\Gunluk";
    sqlPlan.LocalBackupRetentionDays = 7;
    sqlPlan.UploadRetryCount = 2;
  }

  bool Run(const TBackupPlan& plan, std::string& message) {
    TBackupPlan copy = plan;
    std::string file;
    return MakeEngine()->BackupPlan(copy, file, message);
  }

  // Every Drive path, failing the test when one occurs twice.
  std::set<std::string> DrivePaths() {
    std::set<std::string> paths;
    for (const auto& entry : Google().ListTree())
      EXPECT_TRUE(paths.insert(entry.path).second) << "a second " << entry.path;
    return paths;
  }

  void DeleteAccountFolder() {
    const std::string id = AccountFolderId();
    if (id.empty()) return;
    std::lock_guard<std::mutex> guard(Google().Lock());
    Google().DeleteLocked(id);
  }

  // Fails the `k`-th listing request (folder lookups are listings too) of
  // one run, then runs again without faults. False once the run made fewer
  // than k + 1 of them.
  bool FaultedThenCleanRun(const TBackupPlan& plan, Kind kind, int k, const std::set<std::string>& expected) {
    SCOPED_TRACE(testing::Message() << plan.Name << (kind == Kind::Status ? " 500" : " dropped") << " #" << k);
    devcloud::FaultRule rule;
    rule.kind = kind;
    rule.status = 500;
    rule.reason = "backendError";
    rule.method = "GET";
    rule.pathPattern = "^/drive/v3/files$";
    rule.skip = k;
    Cloud().AddFault(rule);
    Cloud().ResetCounts();
    std::string message;
    const bool ok = Run(plan, message);
    Cloud().ClearFaults();
    const bool hit = Cloud().RequestCount("GET", "/drive/v3/files") > k;
    const std::set<std::string> during = DrivePaths();
    for (const std::string& path : during) EXPECT_EQ(expected.count(path), 1u) << "new on Drive: " << path;
    if (!ok) {
      EXPECT_FALSE(message.empty());
    }
    EXPECT_TRUE(Run(plan, message)) << message;
    EXPECT_EQ(DrivePaths(), expected);
    return hit;
  }

  TBackupPlan folderPlan;
  TBackupPlan sqlPlan;
};

TEST_F(DriveLookupFailureTest, FirstLookupOfASecondRunFailsWithTheServersMessage) {
  std::string message;
  ASSERT_TRUE(Run(sqlPlan, message)) << message;
  const std::set<std::string> expected = DrivePaths();
  EXPECT_EQ(expected.count("Deneme Ltd/Sunucu/Gunluk/Muhasebe_.bak"), 1u);

  Cloud().ResetCounts();
  Cloud().InjectStatus("GET", "^/drive/v3/files$", 1, 500);
  EXPECT_FALSE(Run(sqlPlan, message));
  EXPECT_EQ(message,
            "Hesap ana klasoru hazirlanamadi: Drive klasoru aranamadi: Deneme Ltd (HTTP 500: Injected fault: "
            "backendError)");
  EXPECT_EQ(DrivePaths(), expected);
  EXPECT_EQ(Cloud().RequestCount("POST", "/drive/v3/files"), 0);
}

TEST_F(DriveLookupFailureTest, NoLookupFailureEverMakesASecondFolderOrFile) {
  for (const TBackupPlan* plan : {&sqlPlan, &folderPlan}) {
    std::string message;
    ASSERT_TRUE(Run(*plan, message)) << message;
    const std::set<std::string> expected = DrivePaths();
    for (Kind kind : {Kind::Status, Kind::DropRequest}) {
      // The tree exists: a later run must find every folder and file again.
      for (int k = 0; FaultedThenCleanRun(*plan, kind, k, expected); ++k) {
      }
      // Nothing exists yet: the failed run must not leave anything twice.
      for (int k = 0;; ++k) {
        DeleteAccountFolder();
        if (!FaultedThenCleanRun(*plan, kind, k, expected)) break;
      }
    }
    DeleteAccountFolder();
  }
}

}  // namespace
}  // namespace calvora::test
