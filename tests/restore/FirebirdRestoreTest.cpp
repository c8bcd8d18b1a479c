// Firebird restores against a real server started for these tests: a plan
// backed up twice, then restored from Drive into new database files with
// the rows of the current and of the older revision; an existing file is
// kept unless the user confirmed replacing it.
#include "RestoreTestSupport.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/process.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace calvora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

struct TServer {
  std::string state, host, user, password, data, skipReason;
  int port = 0;
  bool started = false;
};
TServer* gServer = nullptr;

platform::ProcessResult RunTool(const std::string& program, std::vector<std::string> arguments,
                                const std::string& input = "") {
  platform::ProcessRequest request;
  request.program = program;
  request.arguments = std::move(arguments);
  request.standardInput = input;
  request.captureOutput = true;
  if (gServer) request.environment = {{"ISC_USER", gServer->user}, {"ISC_PASSWORD", gServer->password}};
  return platform::SystemProcessRunner().Run(request);
}

std::string Connection(const std::string& database) {
  return gServer->host + "/" + std::to_string(gServer->port) + ":" + database;
}

std::string Isql(const std::string& database, const std::string& sql) {
  std::vector<std::string> arguments{"-q", "-ch", "UTF8"};
  if (!database.empty()) arguments.push_back(Connection(database));
  auto result = RunTool("isql-fb", arguments, sql);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  return result.output;
}

std::vector<std::string> Rows(const std::string& database) {
  std::istringstream lines(Isql(database, "SET HEADING OFF;\nSELECT ID || '#' || NAME FROM T ORDER BY ID;\n"));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);)
    if (line.find('#') != std::string::npos) rows.push_back(Trim(line));
  return rows;
}

class FirebirdRestoreTest : public RestoreTest {
 public:
  static void SetUpTestSuite() {
    gServer = new TServer;
    if (platform::FindOnPath("isql-fb").empty() || platform::FindOnPath("gbak").empty()) {
      gServer->skipReason = "Firebird client tools (isql-fb, gbak) are not installed";
      return;
    }
    gServer->state = fs::temp_directory_path().string() + "/calvora-fb-restore-" + RandomAlphaNumeric(8);
    auto result = RunTool("bash", {SourceDir() + "/tests/support/firebird_server.sh", "start", gServer->state});
    if (result.exitCode == 77) {
      gServer->skipReason = result.output;
      return;
    }
    ASSERT_EQ(result.exitCode, 0) << result.output;
    std::map<std::string, std::string> env;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
      auto eq = line.find('=');
      if (eq != std::string::npos && StartsWith(line, "FIREBIRD_TEST_")) env[line.substr(0, eq)] = Trim(line.substr(eq + 1));
    }
    gServer->host = env["FIREBIRD_TEST_HOST"];
    gServer->port = std::stoi(env["FIREBIRD_TEST_PORT"]);
    gServer->user = env["FIREBIRD_TEST_USER"];
    gServer->password = env["FIREBIRD_TEST_PASSWORD"];
    gServer->data = env["FIREBIRD_TEST_DATA_DIR"];
    gServer->started = true;
  }

  static void TearDownTestSuite() {
    if (gServer && gServer->started)
      RunTool("bash", {SourceDir() + "/tests/support/firebird_server.sh", "stop", gServer->state});
    delete gServer;
    gServer = nullptr;
  }

 protected:
  void SetUp() override {
    if (!gServer->skipReason.empty()) GTEST_SKIP() << gServer->skipReason;
    ASSERT_TRUE(gServer->started);
    InstallRealScripts(ProgramDir());
    TFirebirdBackupConfig config;
    config.Enabled = true;
    config.Server = gServer->host;
    config.Port = gServer->port;
    config.UserName = gServer->user;
    config.Password = gServer->password;
    Env().Config().SetFirebirdBackupConfig(config);
    folder = gServer->data + "/" + RandomAlphaNumeric(8);
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
  }

  std::string folder;
};

TEST_F(FirebirdRestoreTest, CurrentAndOlderRevisionRestoreIntoNewFilesWithTheirRows) {
  const std::string database = folder + "/STOK.FDB";
  Isql("", "CREATE DATABASE '" + Connection(database) + "' DEFAULT CHARACTER SET UTF8;\n"
           "CREATE TABLE T (ID INTEGER, NAME VARCHAR(40));\nINSERT INTO T VALUES (1, 'bir');\nCOMMIT;\n");
  TBackupPlan plan = SqlPlan(database);
  plan.Name = "Stok";
  plan.BackupType = "firebird";
  plan.DriveSubFolder = "Firebird";
  std::string file, message;
  ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;
  Isql(database, "INSERT INTO T VALUES (2, 'Şube Çarşı');\nCOMMIT;\n");
  ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;

  TRestoreService restore(Env());
  std::vector<std::string> stages;
  restore.SetOnProgress([&](const TRestoreProgress& p) { stages.push_back(p.Stage); });
  TRestorePlan loaded = LoadPlan(restore, "Stok");
  EXPECT_EQ(loaded.Kind(), TRestoreKind::Firebird);
  TRestoreBackup backup = Named(Backups(restore, loaded), "STOK_.fbk");
  std::vector<TRestoreVersion> versions = Versions(restore, backup);
  ASSERT_EQ(versions.size(), 2u);

  const std::string current = folder + "/GUNCEL.FDB";
  TRestoreRequest request = TRestoreRequest::For(loaded, backup, versions[0]);
  request.TargetPath = current;
  TRestoreResult result = restore.Restore(request);
  ASSERT_TRUE(result.Success) << result.Message;
  EXPECT_THAT(Rows(current), ElementsAre("1#bir", "2#Şube Çarşı"));
  EXPECT_THAT(stages, ::testing::IsSupersetOf({"Indirme", "MD5", "Firebird", "Tamamlandi"}));

  const std::string older = folder + "/ESKI.FDB";
  request = TRestoreRequest::For(loaded, backup, versions[1]);
  request.TargetPath = older;
  result = restore.Restore(request);
  ASSERT_TRUE(result.Success) << result.Message;
  EXPECT_THAT(Rows(older), ElementsAre("1#bir"));

  // The older rows go over the current file only with consent.
  request.TargetPath = current;
  result = restore.Restore(request);
  EXPECT_FALSE(result.Success);
  EXPECT_THAT(result.Conflicts, ElementsAre(current));
  EXPECT_THAT(Rows(current), ElementsAre("1#bir", "2#Şube Çarşı"));
  request.ReplaceExisting = true;
  result = restore.Restore(request);
  ASSERT_TRUE(result.Success) << result.Message;
  EXPECT_THAT(Rows(current), ElementsAre("1#bir"));
  EXPECT_TRUE(WorkFoldersEmpty());
}

}  // namespace
}  // namespace calvora::test
