#pragma once
// What the engine tests share: the cloud emulator with a signed-in account
// and a Google token in the cache, an engine whose internal operations the
// tests may call, stand-in backup scripts driven by a scenario file, and a
// process runner that records what it starts.
#include "DevCloudFixture.h"
#include "TestSupport.h"
#include "engine/uCloudBackup.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace calvora::test {

// Runs everything through the system runner and keeps a copy of each request.
class TRecordingRunner : public platform::ProcessRunner {
 public:
  platform::ProcessResult Run(const platform::ProcessRequest& request) override;
  bool StartDetached(const platform::ProcessRequest& request, std::string& error) override;
  std::vector<platform::ProcessRequest> Requests() const;
  // Requests whose program's file name starts with `prefix`.
  std::vector<platform::ProcessRequest> RequestsOf(const std::string& prefix) const;
  // The next runs whose program starts with `prefix` fail to start.
  void FailStartOf(const std::string& prefix) { failPrefix_ = prefix; }

 private:
  mutable std::mutex lock_;
  std::vector<platform::ProcessRequest> requests_;
  std::string failPrefix_;
};

// The engine with its internal operations opened up for the tests.
class TEngineProbe : public TCloudBackupService {
 public:
  using TCloudBackupService::TCloudBackupService;
  using TCloudBackupService::AccountRootFolderId;
  using TCloudBackupService::ApplyDriveRetention;
  using TCloudBackupService::ApplyLocalRetention;
  using TCloudBackupService::CheckDriveQuota;
  using TCloudBackupService::CleanupOldFailedFiles;
  using TCloudBackupService::CreateRarArchive;
  using TCloudBackupService::CreateReadableCopy;
  using TCloudBackupService::DeleteReadableCopy;
  using TCloudBackupService::EnsureGoogleToken;
  using TCloudBackupService::FindRarExecutable;
  using TCloudBackupService::LastScriptBool;
  using TCloudBackupService::LastScriptString;
  using TCloudBackupService::PlanDriveFolderId;
  using TCloudBackupService::PlanWorkDirectory;
  using TCloudBackupService::RunBackupScript;
  using TCloudBackupService::RunFirebirdScript;
  using TCloudBackupService::RunSqlScript;
  using TCloudBackupService::SqlBackupFileName;
  using TCloudBackupService::SqlBackupKind;
  using TCloudBackupService::UploadBackup;
  using TCloudBackupService::UploadOneFile;
  using TCloudBackupService::WriteRestoreMetadata;
};

// A stand-in for the scripts in "<program>/sql": answers every run from the
// scenario file "<program>/sql/scenario.json" and appends each call
// ({"script","mode","config","payload"}) as one line to
// "<program>/sql/calls.jsonl".
//
// Scenario: {"<mode>": step or [steps]} or "<mode>:<databaseName or
// databasePath>" for one database; a list is used in order, its last step
// repeating. A step: {"result": {...}} written as the result, "raw": text
// written as it is, "exit": exit code (0), "noResult": true, "writeBytes": n
// (writes n bytes to backupDirectory/backupFileName and reports that path as
// "backupFilePath" unless the result names one).
void InstallFakeScript(const std::string& programDir, const std::string& scriptName);
void WriteScenario(const std::string& programDir, const std::string& json);
// The calls recorded so far, one JSON object each.
std::vector<std::string> ScriptCalls(const std::string& programDir);
// Copies the real scripts of the build beside the test's program.
void InstallRealScripts(const std::string& programDir);

// The emulator, an account "Deneme Ltd" signed in, the Google token in the
// cache and an environment that points at all of it.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest();

  TEnv& Env() { return testEnv->Env(); }
  TFakeClock& Clock() { return testEnv->Clock(); }
  devcloud::GoogleState& Google() { return cloud.Google(); }
  devcloud::DevCloud& Cloud() { return cloud.Cloud(); }
  TRecordingRunner& Runner() { return runner; }
  std::string ProgramDir() const { return testEnv->ProgramDir(); }
  // A folder for backup files, below the test's root.
  std::string WorkDir() const { return testEnv->Root() + "/work"; }
  // The names in WorkDir, sorted.
  std::vector<std::string> WorkFiles() const;

  // SQL Server settings that pass IsConfigured.
  static TMSSQLBackupConfig SqlConfig();
  std::unique_ptr<TEngineProbe> MakeEngine(const TMSSQLBackupConfig& config = SqlConfig());
  // A SQL plan on WorkDir() with retries and archives off.
  TBackupPlan SqlPlan(const std::string& database = "Muhasebe") const;

  // The account's root folder on Drive ("Deneme Ltd" below the Drive root).
  std::string AccountFolderId();
  // Names of the direct children of a Drive folder.
  std::vector<std::string> DriveNames(const std::string& folderId);
  // Writes a local file of that many bytes (a pattern, not zeros).
  static void WriteBytes(const std::string& path, std::int64_t size);

  TDevCloudFixture cloud;
  TRecordingRunner runner;
  std::unique_ptr<TTestEnv> testEnv;
};

}  // namespace calvora::test
