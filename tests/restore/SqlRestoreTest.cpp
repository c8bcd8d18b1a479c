// SQL Server restores through the real script and a stand-in sqlcmd that
// records every statement: MOVE for each file, a differential on top of
// its full backup, a new name that never touches the original, and an
// encrypted split archive restored on a new machine after sign-in.
#include "RestoreTestSupport.h"

#include "AccountDirectoryState.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "foundation/DateTime.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleAuth.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace calvora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kFiles =
    R"([{"logicalName":"Muhasebe","physicalName":"/var/opt/mssql/data/Muhasebe.mdf","type":"D"},)"
    R"({"logicalName":"Muhasebe_log","physicalName":"/var/opt/mssql/data/Muhasebe_log.ldf","type":"L"}])";

std::string RestoreSkeleton(const std::string& tail) {
  return "SET NOCOUNT ON; DECLARE @db nvarchar(128) = ?; DECLARE @path nvarchar(4000) = ?; "
         "DECLARE @f0 nvarchar(128) = ?; DECLARE @t0 nvarchar(4000) = ?; DECLARE @f1 nvarchar(128) = ?; "
         "DECLARE @t1 nvarchar(4000) = ?; RESTORE DATABASE @db FROM DISK = @path WITH MOVE @f0 TO @t0, "
         "MOVE @f1 TO @t1, " + tail + ";";
}

class SqlRestoreTest : public RestoreTest {
 protected:
  SqlRestoreTest()
      : fakeBin(testEnv->Root() + "/fakebin"),
        path("PATH", fakeBin + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")),
        scenarioFile("FAKE_SQLCMD_SCENARIO", testEnv->Root() + "/sqlcmd-scenario.json"),
        logFile("FAKE_SQLCMD_LOG", testEnv->Root() + "/sqlcmd-calls.jsonl") {}

  void SetUp() override {
    InstallRealScripts(ProgramDir());
    fs::create_directories(fakeBin);
    WriteFile(fakeBin + "/sqlcmd", "#!/bin/sh\nexec /usr/bin/python3 \"" + SourceDir() +
                                       "/tests/engine/scripts/fake_sqlcmd.py\" \"$@\"\n");
    fs::permissions(fakeBin + "/sqlcmd", fs::perms::owner_all);
    Scenario(0);
  }

  void Scenario(int padding, const std::string& extra = "") {
    WriteFile(testEnv->Root() + "/sqlcmd-scenario.json",
              std::string(R"({"password":"Sql-Secret-1","databases":{"Muhasebe":{"files":)") + kFiles +
                  "}},\"backupPadding\":" + std::to_string(padding) + extra + "}");
  }

  // The calls sqlcmd got since the last look.
  std::vector<TJson> TakeCalls() {
    std::vector<TJson> calls;
    const std::string file = testEnv->Root() + "/sqlcmd-calls.jsonl";
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
      TJson call;
      if (TryParseJson(line, call)) calls.push_back(call);
    }
    fs::remove(file);
    return calls;
  }

  static std::vector<TJson> Restores(const std::vector<TJson>& calls) {
    std::vector<TJson> out;
    for (const TJson& call : calls)
      if (call.contains("skeleton") && JsonMemberText(call, "skeleton").find("RESTORE DATABASE") != std::string::npos)
        out.push_back(call);
    return out;
  }

  static std::vector<std::string> RestoredContents(const std::vector<TJson>& calls) {
    std::vector<std::string> out;
    for (const TJson& call : calls)
      if (call.contains("restoreOf"))
        out.push_back(JsonMemberText(call["restoreOf"], "database") +
                      (call["restoreOf"].value("differential", false) ? " DIFF" : " FULL"));
    return out;
  }

  void Backup(TBackupPlan& plan) {
    std::string file, message;
    ASSERT_TRUE(MakeEngine()->BackupPlan(plan, file, message)) << message;
  }

  std::string fakeBin;
  TScopedEnvVar path, scenarioFile, logFile;
};

TEST_F(SqlRestoreTest, DifferentialGoesOnTopOfItsFullBackupUnderANewNameWithNewFiles) {
  TBackupPlan plan = SqlPlan();
  plan.EnableDifferential = true;
  Backup(plan);  // Muhasebe__FULL.bak
  plan.LastFullBackupAt = Clock().Now();
  Clock().AdvanceSeconds(3600);
  Backup(plan);  // Muhasebe__DIFF.bak
  TakeCalls();

  TRestoreService restore(Env());
  TRestorePlan loaded = LoadPlan(restore, plan.Name);
  ASSERT_EQ(loaded.Metadata.size(), 1u);
  TRestoreBackup diff = Named(Backups(restore, loaded), "Muhasebe__DIFF.bak");
  TRestoreRequest request = TRestoreRequest::For(loaded, diff, Versions(restore, diff).front());
  request.SqlServer = SqlConfig();
  request.DatabaseName = "Muhasebe_Test";
  request.LogFolder = "/srv/sqllog";
  TRestoreResult result = restore.Restore(request);
  ASSERT_TRUE(result.Success) << result.Message;
  EXPECT_THAT(result.Restored, ElementsAre("Muhasebe_Test"));

  const std::vector<TJson> calls = TakeCalls();
  EXPECT_THAT(RestoredContents(calls), ElementsAre("Muhasebe FULL", "Muhasebe DIFF"));
  const std::vector<TJson> restores = Restores(calls);
  ASSERT_EQ(restores.size(), 2u);
  EXPECT_EQ(JsonMemberText(restores[0], "skeleton"), RestoreSkeleton("NORECOVERY"));
  EXPECT_EQ(JsonMemberText(restores[1], "skeleton"), RestoreSkeleton("RECOVERY"));
  for (const TJson& call : restores) {
    const TJson& v = call["variables"];
    EXPECT_EQ(JsonMemberText(v, "@db"), "Muhasebe_Test");
    EXPECT_EQ(JsonMemberText(v, "@f0"), "Muhasebe");
    EXPECT_EQ(JsonMemberText(v, "@t0"), "/var/opt/mssql/data/Muhasebe_Test.mdf");
    EXPECT_EQ(JsonMemberText(v, "@f1"), "Muhasebe_log");
    EXPECT_EQ(JsonMemberText(v, "@t1"), "/srv/sqllog/Muhasebe_Test_log.ldf");
    EXPECT_EQ(JsonMemberText(call, "password"), "Sql-Secret-1");  // in the environment
    EXPECT_THAT(call["argv"].dump(), ::testing::Not(HasSubstr("Sql-Secret-1")));
  }
  // The original database is never named in any statement.
  for (const TJson& call : calls)
    if (call.contains("variables")) {
      EXPECT_NE(JsonMemberText(call["variables"], "@db"), "Muhasebe");
    }
  EXPECT_TRUE(WorkFoldersEmpty());
}

TEST_F(SqlRestoreTest, AnExistingDatabaseIsReplacedOnlyWithConsent) {
  TBackupPlan plan = SqlPlan();
  Backup(plan);
  TakeCalls();
  TRestoreService restore(Env());
  TRestorePlan loaded = LoadPlan(restore, plan.Name);
  TRestoreBackup full = Named(Backups(restore, loaded), "Muhasebe_.bak");
  TRestoreRequest request = TRestoreRequest::For(loaded, full, Versions(restore, full).front());
  request.SqlServer = SqlConfig();

  TRestoreResult refused = restore.Restore(request);
  EXPECT_FALSE(refused.Success);
  EXPECT_EQ(refused.Message, "Veritabani zaten var: Muhasebe. Uzerine yazmak icin onay gerekli.");
  EXPECT_THAT(refused.Conflicts, ElementsAre("Muhasebe"));
  EXPECT_TRUE(Restores(TakeCalls()).empty());

  request.ReplaceExisting = true;
  TRestoreResult replaced = restore.Restore(request);
  ASSERT_TRUE(replaced.Success) << replaced.Message;
  const std::vector<TJson> restores = Restores(TakeCalls());
  ASSERT_EQ(restores.size(), 1u);
  EXPECT_EQ(JsonMemberText(restores[0], "skeleton"), RestoreSkeleton("REPLACE, RECOVERY"));
  EXPECT_EQ(JsonMemberText(restores[0]["variables"], "@t0"), "/var/opt/mssql/data/Muhasebe.mdf");

}

TEST_F(SqlRestoreTest, AFailedRestoreDropsOnlyTheDatabaseItMade) {
  TBackupPlan plan = SqlPlan();
  Backup(plan);
  Scenario(0, R"(,"restoreError":"The disk is full.")");
  TakeCalls();
  TRestoreService restore(Env());
  TRestorePlan loaded = LoadPlan(restore, plan.Name);
  TRestoreBackup full = Named(Backups(restore, loaded), "Muhasebe_.bak");
  TRestoreRequest request = TRestoreRequest::For(loaded, full, Versions(restore, full).front());
  request.SqlServer = SqlConfig();
  auto drops = [](const std::vector<TJson>& calls) {
    std::vector<std::string> names;
    for (const TJson& call : calls)
      if (JsonMemberText(call, "skeleton").find("DROP DATABASE") != std::string::npos)
        names.push_back(JsonMemberText(call["variables"], "@db"));
    return names;
  };

  request.DatabaseName = "Muhasebe_Yeni";
  TRestoreResult made = restore.Restore(request);
  EXPECT_FALSE(made.Success);
  EXPECT_THAT(made.Message, HasSubstr("The disk is full."));
  EXPECT_THAT(drops(TakeCalls()), ElementsAre("Muhasebe_Yeni"));

  request.DatabaseName.clear();  // the existing one, replaced with consent
  request.ReplaceExisting = true;
  EXPECT_FALSE(restore.Restore(request).Success);
  EXPECT_TRUE(drops(TakeCalls()).empty());
}

TEST_F(SqlRestoreTest, EncryptedSplitArchiveRestoresOnANewMachineAfterSignIn) {
  Scenario(2500000);
  TBackupPlan plan = SqlPlan();
  plan.UseRarEncryption = true;
  plan.RarPassword = "Arşiv-Şifre 1";
  plan.RarSplitVolumeMB = 1;
  Backup(plan);
  TakeCalls();

  // A machine that never ran a backup: its own data directory and key;
  // the old machine and its data are gone.
  fs::remove_all(testEnv->DataDir());
  TScopedEnvVar key("CALVORA_MACHINE_KEY_FILE", testEnv->Root() + "/yeni-makine/machine.key");
  TTestEnv fresh(Env().Deployment(), &runner);
  InstallRealScripts(fresh.ProgramDir());
  Cloud().Account().Write("GoogleDriveAccounts/g1",
                          devcloud::DatabaseJson{{"DisplayName", "Merkez"}, {"AccessToken", cloud.AccessToken()},
                                                 {"RefreshToken", cloud.RefreshToken()},
                                                 {"ExpiresAt", IncMinutes(fresh.Clock().Now(), 60)}});
  Cloud().Account().Write("GoogleDriveAccountLinks/L1",
                          devcloud::DatabaseJson{{"AccountLoginName", "musteri"}, {"GoogleAccountID", "g1"},
                                                 {"IsDefault", true}});
  TAccountAuthResult signIn;
  ASSERT_TRUE(SignInAccount(fresh.Env(), "musteri", "pw", signIn)) << signIn.MessageText;

  TRestoreService restore(fresh.Env());
  TRestorePlan loaded = LoadPlan(restore, plan.Name);
  EXPECT_TRUE(loaded.ArchiveEncrypted());
  TRestoreBackup archive = Named(Backups(restore, loaded), "Muhasebe_.part*.rar");
  EXPECT_EQ(archive.Files.size(), 3u);
  TRestoreRequest request = TRestoreRequest::For(loaded, archive, Versions(restore, archive).front());
  request.SqlServer = SqlConfig();
  request.ReplaceExisting = true;

  struct Case {
    const char* password;
    bool success;
    const char* message;
  } cases[] = {
      {"", false, "Arsiv sifreli; geri yukleme icin arsiv sifresini girin."},
      {"yanlis", false, "Arsiv acilamadi: arsiv sifresi yanlis."},
      {"Arşiv-Şifre 1", true, "SQL Server veritabani geri yuklendi (1 yedek): Muhasebe"},
  };
  for (const Case& c : cases) {
    request.ArchivePassword = c.password;
    TRestoreResult result = restore.Restore(request);
    EXPECT_EQ(result.Success, c.success) << c.password;
    EXPECT_EQ(result.Message, c.message) << c.password;
    const std::vector<TJson> calls = TakeCalls();
    EXPECT_EQ(RestoredContents(calls), c.success ? std::vector<std::string>{"Muhasebe FULL"}
                                                 : std::vector<std::string>{})
        << c.password;
    EXPECT_TRUE(TreeFiles(fresh.TempDir() + "/CalvoraRestore").empty()) << c.password;
  }
}

}  // namespace
}  // namespace calvora::test
