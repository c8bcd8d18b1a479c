// SQL Server plans end to end, with a stand-in SQL Server script that
// answers as the server would.
#include "EngineTestSupport.h"

#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "plans/uPlanActivityStore.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kUnencrypted =
    R"({"success": true, "tdeSupported": true, "tdeIsEncrypted": false, "tdeDetailAvailable": true})";

class SqlBackupTest : public EngineTest {
 protected:
  SqlBackupTest() { InstallFakeScript(ProgramDir(), "BackupDatabase.py"); }

  bool Run(TBackupPlan plan, std::string& file, std::string& message) {
    return MakeEngine()->BackupPlan(plan, file, message);
  }

  std::vector<TJson> Calls(const std::string& mode) {
    std::vector<TJson> out;
    for (const auto& line : ScriptCalls(ProgramDir())) {
      TJson call;
      if (TryParseJson(line, call) && call["mode"] == mode) out.push_back(call);
    }
    return out;
  }

  std::vector<std::string> Stages(const std::string& planId) {
    TPlanActivitySnapshot snapshot;
    TryGetPlanActivity(Env(), planId, snapshot);
    std::vector<std::string> titles;
    for (const auto& e : snapshot.RecentEvents) titles.push_back(e.Title);
    return titles;
  }
};

TEST_F(SqlBackupTest, KindAndFileNameFollowTheFullBackupInterval) {
  struct Case {
    bool differential;
    std::int64_t minutesSinceFull;  // -1: never
    const char* kind;
    const char* file;
  };
  const Case cases[] = {
      {false, 60, "Full", "Muhasebe_.bak"},
      {true, -1, "Full", "Muhasebe__FULL.bak"},
      {true, 2 * 1440, "Diff", "Muhasebe__DIFF.bak"},
      {true, 43199, "Diff", "Muhasebe__DIFF.bak"},
      {true, 43200, "Full", "Muhasebe__FULL.bak"},
  };
  auto engine = MakeEngine();
  for (const Case& c : cases) {
    TBackupPlan plan = SqlPlan();
    plan.EnableDifferential = c.differential;
    plan.FullBackupIntervalMinutes = 43200;
    plan.LastFullBackupAt = c.minutesSinceFull < 0 ? 0 : IncMinutes(Clock().Now(), -c.minutesSinceFull);
    EXPECT_EQ(engine->SqlBackupKind(plan), c.kind) << c.minutesSinceFull;
    EXPECT_EQ(engine->SqlBackupFileName(plan), c.file) << c.minutesSinceFull;
  }
}

TEST_F(SqlBackupTest, OneDatabaseIsBackedUpUploadedAndDescribed) {
  WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": {"result": )") + kUnencrypted + R"(},
      "backup": {"writeBytes": 4000, "result": {"success": true, "message": "Yedek alindi",
                 "bakFileList": {"logicalName": "Muhasebe", "physicalName": "D:\\m.mdf", "type": "D"}}}})");
  TBackupPlan plan = SqlPlan();
  plan.EnableDifferential = true;
  plan.UseCompression = false;
  std::string file, message;
  ASSERT_TRUE(Run(plan, file, message)) << message;
  EXPECT_EQ(file, WorkDir() + "/Muhasebe__FULL.bak");
  EXPECT_EQ(message, "Yedek alindi ve Drive'a yuklendi: Muhasebe__FULL.bak");

  auto backups = Calls("backup");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(JsonToText(backups[0]["payload"]),
            R"({"databaseName":"Muhasebe","backupDirectory":")" + WorkDir() +
                R"(","backupFileName":"Muhasebe__FULL.bak","useCompression":false,"backupType":"Full"})");
  EXPECT_THAT(DriveNames(AccountFolderId()), ::testing::UnorderedElementsAre("Muhasebe__FULL.bak", "restoremeta"));
  EXPECT_THAT(ReadTextFile(testEnv->DataDir() + "/restoremeta/Muhasebe_restoreinfo.json"), HasSubstr("D:\\\\m.mdf"));
  EXPECT_THAT(Stages(plan.ID), ElementsAre("TDE Kontrol", "Temizlik", "SQL Backup", "Upload Hazir", "Upload",
                                           "Upload Tamamlandi"));
}

TEST_F(SqlBackupTest, EmptyEntriesOfTheDatabaseListCountNowhere) {
  WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": {"result": )") + kUnencrypted + R"(},
      "backup": {"writeBytes": 4000, "result": {"success": true}}})");
  TBackupPlan plan = SqlPlan(" Muhasebe; ");
  std::string file, message;
  ASSERT_TRUE(Run(plan, file, message)) << message;
  EXPECT_EQ(file, WorkDir() + "/Muhasebe_.bak");
  auto backups = Calls("backup");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0]["payload"]["databaseName"], "Muhasebe");
  EXPECT_EQ(backups[0]["payload"]["backupFileName"], "Muhasebe_.bak");
  EXPECT_THAT(Stages(plan.ID), ::testing::Not(::testing::Contains("Hata")));
  EXPECT_TRUE(std::filesystem::exists(testEnv->DataDir() + "/restoremeta/Muhasebe_restoreinfo.json"));

  // Nothing but separators: no database at all.
  EXPECT_FALSE(Run(SqlPlan(" ;; "), file, message));
  EXPECT_EQ(message, "Plan icin veritabani adi/yolu girilmemis.");
  EXPECT_EQ(Calls("backup").size(), 1u);
}

TEST_F(SqlBackupTest, BackupTheProgramCannotReachFailsWithAHint) {
  WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": {"result": )") + kUnencrypted + R"(},
      "backup": {"result": {"success": true, "backupFilePath": "D:\\SQLBackup\\Muhasebe_.bak"}}})");
  TLogCapture log;
  std::string file, message;
  EXPECT_FALSE(Run(SqlPlan(), file, message));
  EXPECT_EQ(message,
            "SQL backup olustu ancak uygulama backup dosyasina erisemedi: D:\\SQLBackup\\Muhasebe_.bak. Uzak SQL "
            "Server kullaniyorsaniz SQL Server servisi ile uygulamanin birlikte erisebildigi UNC paylasim yolu "
            "kullanin.");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "DB backup istisnasi | EAppError: SQL backup olustu"));
  EXPECT_EQ(Stages(SqlPlan().ID).back(), "Hata");
}

TEST_F(SqlBackupTest, FailedScriptLeavesNothingToUpload) {
  WriteScenario(ProgramDir(), std::string(R"({"tdeStatus": {"result": )") + kUnencrypted + R"(},
      "backup": {"exit": 1, "result": {"success": false, "message": "BACKUP DATABASE is terminating abnormally."}}})");
  std::string file, message;
  EXPECT_FALSE(Run(SqlPlan(), file, message));
  EXPECT_EQ(message, "BACKUP DATABASE is terminating abnormally.");
  EXPECT_EQ(file, "");
  EXPECT_EQ(Cloud().RequestCount("POST", "/upload/"), 0);
}

TEST_F(SqlBackupTest, SeveralDatabasesRunOneAfterAnotherAndStopOnlyWhenSpaceRunsOut) {
  const std::string tde = std::string(R"("tdeStatus": {"result": )") + kUnencrypted + "}";
  // B fails with an ordinary error: the loop goes on.
  WriteScenario(ProgramDir(), "{" + tde + R"(, "backup": {"writeBytes": 3000, "result": {"success": true}},
      "backup:B": {"result": {"success": false, "message": "B veritabani kullanimda"}}})");
  TBackupPlan plan = SqlPlan("A;B;C");
  std::string file, message;
  EXPECT_FALSE(Run(plan, file, message));
  EXPECT_EQ(message,
            "2 veritabani yedeklendi, 1 hata. A: basarili | B: hatali - B veritabani kullanimda | C: basarili");
  EXPECT_EQ(file, WorkDir() + "/A_.bak; " + WorkDir() + "/C_.bak");
  EXPECT_EQ(Calls("backup").size(), 3u);
  EXPECT_TRUE(std::filesystem::exists(testEnv->DataDir() + "/restoremeta/C_restoreinfo.json"));

  // B runs out of Drive space: C is not attempted.
  std::filesystem::remove(ProgramDir() + "/sql/calls.jsonl");
  WriteScenario(ProgramDir(), "{" + tde + R"(, "backup": {"writeBytes": 3000, "result": {"success": true}},
      "backup:B": {"writeBytes": 900000, "result": {"success": true}}})");
  Google().SetQuotaLimit(Google().UsageBytes() + 600000);
  EXPECT_FALSE(Run(plan, file, message));
  EXPECT_THAT(message, StartsWith("1 veritabani yedeklendi, 1 hata. A: basarili | B: hatali - Disk alani yetersiz."));
  EXPECT_THAT(message, ::testing::EndsWith(" | Kalan veritabani gorevleri disk alani yetersiz oldugu icin durduruldu."));
  EXPECT_EQ(Calls("backup").size(), 2u);
  EXPECT_EQ(Stages(plan.ID).back(), "Hata");
}

TEST_F(SqlBackupTest, ConnectionTestAndDatabaseList) {
  TMSSQLBackupConfig noUser = SqlConfig();
  noUser.UserName = "";
  {
    TLogCapture log;
    std::string message;
    EXPECT_FALSE(MakeEngine(noUser)->TestConnection(message));
    EXPECT_EQ(message, "MSSQL backup ayarlari eksik.");
    EXPECT_TRUE(log.Contains(TLogLevel::Error, "SQL backup baglanti testi hatasi"));
    std::vector<std::string> databases;
    EXPECT_FALSE(MakeEngine(noUser)->ListDatabases(databases, message));
    EXPECT_EQ(message, "MSSQL backup ayarlari eksik.");
  }

  TMSSQLBackupConfig config = SqlConfig();
  config.BackupOutputDir = testEnv->Root() + "/sqlcikti";
  WriteScenario(ProgramDir(), R"({"test": [{"result": {"success": true, "message": "Baglanti basarili"}},
      {"result": {"success": false, "message": "Login failed for user 'sa'."}}],
      "listDatabases": [{"result": {"success": true, "databases": ["Muhasebe", "Stok"]}},
                        {"result": {"success": true}}, {"noResult": true, "exit": 3}]})");
  auto engine = MakeEngine(config);
  TLogCapture log;
  std::string message;
  EXPECT_TRUE(engine->TestConnection(message));
  EXPECT_EQ(message, "Baglanti basarili");
  EXPECT_TRUE(std::filesystem::is_directory(config.BackupOutputDir));
  EXPECT_FALSE(engine->TestConnection(message));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "SQL backup baglanti testi basarisiz: Login failed for user 'sa'."));

  std::vector<std::string> databases;
  EXPECT_TRUE(engine->ListDatabases(databases, message));
  EXPECT_THAT(databases, ElementsAre("Muhasebe", "Stok"));
  EXPECT_TRUE(engine->ListDatabases(databases, message));
  EXPECT_THAT(databases, IsEmpty());
  EXPECT_FALSE(engine->ListDatabases(databases, message));
  EXPECT_EQ(message, "SQL veritabani listeleme sonucu uretmedi. Cikis kodu: 3");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "SQL veritabani listeleme hatasi"));
  EXPECT_TRUE(std::filesystem::is_empty(Env().TempDir() + "/CalvoraSqlBackup"));
  // The list run always sends an empty payload.
  for (const auto& line : ScriptCalls(ProgramDir())) {
    if (line.find("listDatabases") != std::string::npos) {
      EXPECT_THAT(line, HasSubstr(R"("payload": {})"));
    }
  }
}

}  // namespace
}  // namespace calvora::test
