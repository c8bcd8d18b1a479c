// Firebird plans against a stand-in Firebird script.
#include "EngineTestSupport.h"

#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uPlanActivityStore.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

class FirebirdPlanTest : public EngineTest {
 protected:
  FirebirdPlanTest() {
    InstallFakeScript(ProgramDir(), "BackupFirebird.py");
    TFirebirdBackupConfig config;
    config.Enabled = true;
    config.Server = "127.0.0.1";
    config.Port = 3050;
    config.UserName = "SYSDBA";
    config.Password = "fb-Secret";
    config.GBackPath = "/opt/firebird/bin/gbak";
    Env().Config().SetFirebirdBackupConfig(config);
    databases = testEnv->Root() + "/veri";
    std::filesystem::create_directories(databases);
  }

  TBackupPlan Plan(const std::string& database) const {
    TBackupPlan plan = SqlPlan(database);
    plan.BackupType = "firebird";
    return plan;
  }

  int Backups() {
    int n = 0;
    for (const auto& line : ScriptCalls(ProgramDir())) n += line.find(R"("mode": "backup")") != std::string::npos;
    return n;
  }

  std::string databases;
};

TEST_F(FirebirdPlanTest, FolderOfDatabasesGivesOneBackupEach) {
  WriteFile(databases + "/A.fdb", "a");
  WriteFile(databases + "/B.GDB", "b");
  WriteFile(databases + "/notlar.txt", "x");
  WriteScenario(ProgramDir(), R"({"backup": {"writeBytes": 1500, "result": {"success": true}}})");
  TBackupPlan plan = Plan(databases);
  std::string file, message;
  ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;
  // The folder's files come in the order the file system lists them.
  const std::string summary = "2 veritabani yedeklendi, 0 hata. ";
  ASSERT_TRUE(calvora::StartsWith(message, summary)) << message;
  EXPECT_THAT(Split(ReplaceAll(message.substr(summary.size()), " | ", "|"), '|'),
              UnorderedElementsAre("A.fdb: basarili", "B.GDB: basarili"));
  EXPECT_THAT(Split(ReplaceAll(file, "; ", ";"), ';'), UnorderedElementsAre(WorkDir() + "/A_.fbk", WorkDir() + "/B_.fbk"));
  EXPECT_THAT(DriveNames(AccountFolderId()), UnorderedElementsAre("A_.fbk", "B_.fbk", "restoremeta"));

  TJson call;
  for (const auto& line : ScriptCalls(ProgramDir()))
    if (line.find("A.fdb") != std::string::npos) {
      ASSERT_TRUE(TryParseJson(line, call));
    }
  EXPECT_EQ(JsonToText(call["config"]),
            R"({"server":"127.0.0.1","port":3050,"userName":"SYSDBA","password":"fb-Secret",)"
            R"("gbackPath":"/opt/firebird/bin/gbak","backupOutputDir":""})");
  EXPECT_EQ(JsonToText(call["payload"]), R"({"databasePath":")" + databases + R"(/A.fdb","backupDirectory":")" +
                                             WorkDir() + R"(","backupFileName":"A_.fbk"})");
  TPlanActivitySnapshot snapshot;
  ASSERT_TRUE(TryGetPlanActivity(Env(), plan.ID, snapshot));
  EXPECT_EQ(snapshot.CurrentStage, "Upload Tamamlandi");
}

TEST_F(FirebirdPlanTest, NothingToBackUpOrAFailingScriptIsReported) {
  TBackupPlan empty = Plan(databases);
  std::string file, message;
  EXPECT_FALSE(MakeEngine()->BackupPlan(empty, file, message));
  EXPECT_EQ(message, "Belirtilen klasorde Firebird veritabani (.fdb/.gdb/.ib) bulunamadi: " + databases);
  EXPECT_EQ(Backups(), 0);

  WriteScenario(ProgramDir(), R"({"backup": {"exit": 1, "result": {"success": false,
      "message": "Firebird yedegi alinamadi: I/O error"}}})");
  TBackupPlan missing = Plan(databases + "/YOK.FDB");
  EXPECT_FALSE(MakeEngine()->BackupPlan(missing, file, message));
  EXPECT_EQ(message, "Firebird yedegi alinamadi: I/O error");
  EXPECT_EQ(Backups(), 1);
  TPlanActivitySnapshot snapshot;
  ASSERT_TRUE(TryGetPlanActivity(Env(), missing.ID, snapshot));
  EXPECT_EQ(snapshot.CurrentStage, "Hata");
}

TEST_F(FirebirdPlanTest, UnreachableBackupEndsTheWholeRun) {
  WriteFile(databases + "/A.fdb", "a");
  WriteFile(databases + "/B.fdb", "b");
  WriteScenario(ProgramDir(), R"({"backup": {"result": {"success": true, "backupFilePath": "/yok/A_.fbk"}}})");
  TBackupPlan plan = Plan(databases);
  std::string file, message;
  EXPECT_FALSE(MakeEngine()->BackupPlan(plan, file, message));
  EXPECT_EQ(message, "Firebird backup tamamlandi ancak .fbk dosyasina erisemedi: /yok/A_.fbk");
  EXPECT_EQ(Backups(), 1);
}

TEST_F(FirebirdPlanTest, FailedUploadKeepsTheBackupUnderItsFailureName) {
  WriteFile(databases + "/STOK.FDB", "s");
  WriteScenario(ProgramDir(), R"({"backup": {"writeBytes": 1500, "result": {"success": true}}})");
  Google().SetQuotaLimit(1000);
  TBackupPlan plan = Plan(databases + "/STOK.FDB");
  std::string file, message;
  EXPECT_FALSE(MakeEngine()->BackupPlan(plan, file, message));
  EXPECT_THAT(message, StartsWith("Disk alani yetersiz."));
  EXPECT_EQ(file, WorkDir() + "/STOK_.failed.fbk");
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(FirebirdPlanTest, ConnectionTest) {
  WriteScenario(ProgramDir(), R"({"test": {"result": {"success": true, "message": "Firebird baglantisi basarili."}}})");
  TLogCapture log;
  std::string message;
  EXPECT_TRUE(MakeEngine()->TestFirebirdConnection(message));
  EXPECT_EQ(message, "Firebird baglantisi basarili.");
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Firebird backup baglanti testi basarili"));

  TFirebirdBackupConfig config = Env().Config().GetFirebirdBackupConfig();
  config.Enabled = false;
  Env().Config().SetFirebirdBackupConfig(config);
  EXPECT_FALSE(MakeEngine()->TestFirebirdConnection(message));
  EXPECT_EQ(message, "Firebird backup ayarlari etkin degil.");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Firebird backup baglanti testi hatasi"));
}

// A window tests what it shows: the script sees the given settings, and the
// stored ones stay as they were.
TEST_F(FirebirdPlanTest, ConnectionTestWithGivenSettingsStoresNothing) {
  WriteScenario(ProgramDir(), R"({"test": {"result": {"success": true, "message": "ok"}}})");
  const TFirebirdBackupConfig stored = Env().Config().GetFirebirdBackupConfig();
  TFirebirdBackupConfig shown = stored;
  shown.Server = "10.0.0.9";
  shown.GBackPath = "/usr/bin/gbak";
  std::string message;
  EXPECT_TRUE(MakeEngine()->TestFirebirdConnection(shown, message)) << message;
  ASSERT_FALSE(ScriptCalls(ProgramDir()).empty());
  EXPECT_NE(ScriptCalls(ProgramDir()).back().find("10.0.0.9"), std::string::npos);
  EXPECT_NE(ScriptCalls(ProgramDir()).back().find("/usr/bin/gbak"), std::string::npos);
  EXPECT_EQ(Env().Config().GetFirebirdBackupConfig().Server, stored.Server);
  EXPECT_EQ(Env().Config().GetFirebirdBackupConfig().GBackPath, stored.GBackPath);

  shown.Enabled = false;
  EXPECT_FALSE(MakeEngine()->TestFirebirdConnection(shown, message));
  EXPECT_EQ(message, "Firebird backup ayarlari etkin degil.");
  EXPECT_TRUE(Env().Config().GetFirebirdBackupConfig().Enabled);
}

}  // namespace
}  // namespace calvora::test
