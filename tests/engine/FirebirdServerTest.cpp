// Firebird plans against a real Firebird server started for these tests:
// the backups go through the whole plan run to the emulator's Drive, come
// back down and restore to databases with the same rows.
#include "EngineTestSupport.h"

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

struct TFirebirdServer {
  std::string state;
  std::string host, user, password, data;
  int port = 0;
  std::string skipReason;
  bool started = false;
};

TFirebirdServer* gServer = nullptr;

std::string Fixture() { return SourceDir() + "/tests/support/firebird_server.sh"; }

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
  EXPECT_EQ(result.output.find("Statement failed"), std::string::npos) << result.output;
  return result.output;
}

void CreateDatabase(const std::string& path, const std::vector<std::string>& names) {
  std::string sql = "CREATE DATABASE '" + Connection(path) + "' DEFAULT CHARACTER SET UTF8;\n"
                    "CREATE TABLE T (ID INTEGER, NAME VARCHAR(40));\n";
  for (size_t i = 0; i < names.size(); ++i)
    sql += "INSERT INTO T VALUES (" + std::to_string(i + 1) + ", '" + ReplaceAll(names[i], "'", "''") + "');\n";
  Isql("", sql + "COMMIT;\n");
}

std::vector<std::string> Rows(const std::string& database) {
  std::string out = Isql(database, "SET HEADING OFF;\nSELECT ID || '#' || NAME FROM T ORDER BY ID;\n");
  std::vector<std::string> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.find('#') != std::string::npos) rows.push_back(Trim(line));
  return rows;
}

class FirebirdServerTest : public EngineTest {
 public:
  static void SetUpTestSuite() {
    gServer = new TFirebirdServer;
    if (platform::FindOnPath("isql-fb").empty() || platform::FindOnPath("gbak").empty()) {
      gServer->skipReason = "Firebird client tools (isql-fb, gbak) are not installed";
      return;
    }
    gServer->state = fs::temp_directory_path().string() + "/calvora-fb-engine-" + RandomAlphaNumeric(8);
    auto result = RunTool("bash", {Fixture(), "start", gServer->state});
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
    if (gServer && gServer->started) RunTool("bash", {Fixture(), "stop", gServer->state});
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
    // A folder of this test's own inside the server's data folder.
    folder = gServer->data + "/" + RandomAlphaNumeric(8);
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
  }

  TBackupPlan Plan(const std::string& database) const {
    TBackupPlan plan = SqlPlan(database);
    plan.BackupType = "firebird";
    plan.DriveSubFolder = "Firebird";
    return plan;
  }

  // Downloads the plan's backups and restores `fbk` into a new database.
  std::string Restore(const TBackupPlan& plan, const std::string& fbk) {
    const std::string downloads = testEnv->Root() + "/indirilen";
    std::string message;
    EXPECT_TRUE(MakeEngine()->DownloadPlanBackups(plan, downloads, message)) << message;
    const std::string restored = folder + "/RESTORED_" + ChangeFileExt(fbk, "") + ".FDB";
    auto result = RunTool("gbak", {"-c", downloads + "/" + fbk, Connection(restored)});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return restored;
  }

  std::string folder;
};

const std::vector<std::string> kStok = {"bir", "Şube Çarşı", "it's | quoted"};

TEST_F(FirebirdServerTest, DatabaseIsBackedUpToDriveAndRestoresWithTheSameRows) {
  CreateDatabase(folder + "/STOK.FDB", kStok);
  TBackupPlan plan = Plan(folder + "/STOK.FDB");
  std::string file, message;
  ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;
  EXPECT_EQ(file, WorkDir() + "/STOK_.fbk");
  EXPECT_EQ(message, "Yedek alindi ve Drive'a yuklendi: STOK_.fbk");
  EXPECT_TRUE(fs::exists(testEnv->DataDir() + "/restoremeta/STOK_restoreinfo.json"));

  const std::string restored = Restore(plan, "STOK_.fbk");
  EXPECT_THAT(Rows(restored), ElementsAre("1#bir", "2#Şube Çarşı", "3#it's | quoted"));

  std::string connection;
  EXPECT_TRUE(MakeEngine()->TestFirebirdConnection(connection)) << connection;
}

TEST_F(FirebirdServerTest, FolderPlanBacksUpEveryDatabaseOfTheFolder) {
  CreateDatabase(folder + "/A.FDB", {"alfa"});
  CreateDatabase(folder + "/B.FDB", {"beta", "gama"});
  TBackupPlan plan = Plan(folder);
  std::string file, message;
  ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;
  // The folder's files come in the order the file system lists them.
  const std::string summary = "2 veritabani yedeklendi, 0 hata. ";
  ASSERT_TRUE(StartsWith(message, summary)) << message;
  EXPECT_THAT(Split(ReplaceAll(message.substr(summary.size()), " | ", "|"), '|'),
              ::testing::UnorderedElementsAre("A.FDB: basarili", "B.FDB: basarili"));
  EXPECT_THAT(Rows(Restore(plan, "A_.fbk")), ElementsAre("1#alfa"));
  EXPECT_THAT(Rows(Restore(plan, "B_.fbk")), ElementsAre("1#beta", "2#gama"));
}

}  // namespace
}  // namespace calvora::test
