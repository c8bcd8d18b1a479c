#include "../service/ServiceTestSupport.h"
#include "MailTestServers.h"

#include "AccountDirectoryState.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using devcloud::DatabaseJson;

// A program folder of its own ("<tmp>/app" with the service program, its
// scripts and deployment file; data directory "<tmp>/app/config"), the
// emulator seeded with an account, its policy, a central Google account
// linked to it and the mail server definition, and a local SMTP server.
class ServiceRunOnceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(smtp.Start({}, error)) << error;

    appDir = env.Root() + "/app";
    fs::create_directories(appDir);
    fs::copy_file(CALVORA_SERVICE_EXE, appDir + "/CalvoraService");
    fs::copy(CALVORA_SQL_DIR, appDir + "/sql", fs::copy_options::recursive);
    TDeploymentSettings deployment = cloud.Deployment();
    SaveDeploymentSettings(appDir + "/deployment.ini", deployment);

    auto& directory = cloud.Cloud().Account();
    directory.Write("Lisanslar/musteri", DatabaseJson{{"LoginName", "musteri"},
                                                      {"Sifre", "pw"},
                                                      {"Musteri", "Deneme Ltd"},
                                                      {"YedeklemePolitikaId", "belgeler"}});
    directory.Write("YedeklemePolitikalari/belgeler",
                    DatabaseJson{{"Ad", "Gecici dosyasiz"}, {"HaricListesi", {"*.tmp"}}});
    directory.Write("GoogleDriveAccounts/merkez", DatabaseJson{{"DisplayName", "Merkez Drive"},
                                                               {"AccessToken", cloud.AccessToken()},
                                                               {"RefreshToken", cloud.RefreshToken()}});
    directory.Write("GoogleDriveAccountLinks/l1", DatabaseJson{{"AccountLoginName", "musteri"},
                                                               {"GoogleAccountID", "merkez"},
                                                               {"IsDefault", true}});
    directory.Write("MailSettings/Admin", DatabaseJson{{"Enabled", true},
                                                       {"Host", "127.0.0.1"},
                                                       {"Port", smtp.Port()},
                                                       {"UseSsl", false},
                                                       {"FromAddress", "yedek@calvora.test"}});

    // The desktop's part: the sign-in and the plan, in the program's data
    // directory.
    TConfigLocations locations;
    locations.ExecutableDir = appDir;
    locations.ProgramData = env.Root() + "/programdata";
    locations.AppData = env.Root() + "/appdata";
    config = std::make_unique<TAppConfig>(locations);
    appEnv = std::make_unique<TEnv>(*config, deployment, env.Clock(), platform::SystemProcessRunner(), appDir,
                                    env.TempDir());
    SaveSignIn(*appEnv, TAccountCredentials{"musteri", "pw", "Deneme Ltd"});

    source = env.Root() + "/kaynak";
    for (int i = 0; i < 30; ++i)
      test::WriteFile(source + "/klasor" + std::to_string(i % 3) + "/alt/dosya" + std::to_string(i) + ".txt",
                      "icerik " + std::to_string(i));
    test::WriteFile(source + "/kok.txt", "kok");
    test::WriteFile(source + "/calisma.tmp", "gecici");
    plan.ID = TBackupPlanStore::GeneratePlanID();
    plan.Name = "Belgeler";
    plan.BackupType = "folder";
    plan.SourceFolder = source;
    plan.DriveSubFolder = "Belgeler";
    plan.Enabled = true;
    plan.AutoRun = true;
    plan.RunOnServiceStart = true;
    plan.ReportEmailAddresses = "patron@firma.test";
    TBackupPlanStore(*appEnv).SavePlans({plan});
  }

  platform::ProcessResult RunOnce() {
    platform::ProcessRequest request;
    request.program = appDir + "/CalvoraService";
    request.arguments = {"--run-once"};
    request.captureOutput = true;
    return platform::SystemProcessRunner().Run(request);
  }

  std::map<std::string, std::string> DriveFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : cloud.Google().ListTree())
      if (!entry.folder && StartsWith(entry.path, "Deneme Ltd/Belgeler/"))
        files[entry.path.substr(std::string("Deneme Ltd/Belgeler/").size())] = entry.md5;
    return files;
  }

  test::TServiceCloud cloud;
  test::TSmtpTestServer smtp;
  test::TTestEnv env;
  std::string appDir, source;
  std::unique_ptr<TAppConfig> config;
  std::unique_ptr<TEnv> appEnv;
  TBackupPlan plan;
};

TEST_F(ServiceRunOnceTest, ServiceProgramRunsTheDuePlanEndToEnd) {
  const auto first = RunOnce();
  ASSERT_TRUE(first.started) << first.error;
  ASSERT_EQ(first.exitCode, 0) << first.output;

  // Drive: the tree below the account's folder, without the excluded file.
  const auto files = DriveFiles();
  EXPECT_EQ(files.size(), 31u);
  EXPECT_EQ(files.at("kok.txt"), Md5Hex("kok"));
  EXPECT_EQ(files.at("klasor2/alt/dosya29.txt"), Md5Hex("icerik 29"));
  EXPECT_EQ(files.count("calisma.tmp"), 0u);

  // The plan file and the activity record.
  auto stored = TBackupPlanStore(*appEnv).LoadPlans();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].LastStatus, "Başarılı");
  EXPECT_EQ(stored[0].LastMessage, "31 dosya kontrol edildi: 31 yeni, 0 guncellendi, 0 degismemis.");
  EXPECT_EQ(stored[0].LastBackupFile, source);
  EXPECT_GT(stored[0].LastRunAt, 0);
  TPlanActivitySnapshot activity;
  ASSERT_TRUE(TryGetPlanActivity(*appEnv, plan.ID, activity));
  EXPECT_FALSE(activity.IsRunning);
  EXPECT_EQ(activity.CurrentState, "success");
  bool uploadCompleted = false;
  for (const auto& event : activity.RecentEvents) uploadCompleted |= event.Title == "Upload Tamamlandi";
  EXPECT_TRUE(uploadCompleted);

  // The account directory: last run and the stop report.
  auto& directory = cloud.Cloud().Account();
  EXPECT_EQ(directory.Read("Lisanslar/musteri/ServisDurumu"), "Durduruldu");
  EXPECT_TRUE(directory.Read("Lisanslar/musteri/SonPlanGerceklestirmeSaati").is_string());

  // The report mail.
  const auto messages = smtp.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["subject"], "[BAŞARILI] Brimora - Belgeler");
  EXPECT_EQ(messages[0]["to"], TJson({"patron@firma.test"}));

  const std::string log = test::ReadFile(appDir + "/config/log.txt");
  EXPECT_NE(log.find("Windows service basladi (v" CALVORA_VERSION ")"), std::string::npos) << log;
  EXPECT_NE(log.find("Backup plani calistiriliyor: Belgeler"), std::string::npos);
  EXPECT_NE(log.find("Windows service durduruluyor"), std::string::npos);

  // Made due again, the second run finds everything unchanged.
  stored[0].LastRunAt = 0;
  TBackupPlanStore(*appEnv).SavePlans(stored);
  const auto second = RunOnce();
  ASSERT_EQ(second.exitCode, 0) << second.output;
  stored = TBackupPlanStore(*appEnv).LoadPlans();
  EXPECT_EQ(stored[0].LastMessage, "31 dosya kontrol edildi: 0 yeni, 0 guncellendi, 31 degismemis.");
  EXPECT_EQ(DriveFiles(), files);
  EXPECT_EQ(smtp.Messages().size(), 2u);
}

TEST_F(ServiceRunOnceTest, TerminationSignalStopsTheWaitingServiceAtOnce) {
  platform::ProcessRequest request;
  request.program = "sh";
  // The service waits in its 30 s sleep after the first tick; SIGTERM must
  // end it without waiting that out (the test's time-out would catch that).
  request.arguments = {"-c", "'" + appDir + "/CalvoraService' & pid=$!; "
                             "while ! grep -q 'Backup plani calistiriliyor' '" + appDir + "/config/log.txt' 2>/dev/null; "
                             "do sleep 0.2; done; sleep 1; kill -TERM $pid; wait $pid; echo exit=$?"};
  request.captureOutput = true;
  const auto result = platform::SystemProcessRunner().Run(request);
  EXPECT_NE(result.output.find("exit=0"), std::string::npos) << result.output;
  EXPECT_EQ(cloud.Cloud().Account().Read("Lisanslar/musteri/ServisDurumu"), "Durduruldu");
  EXPECT_NE(test::ReadFile(appDir + "/config/log.txt").find("Windows service durduruluyor"), std::string::npos);
}

}  // namespace
}  // namespace calvora
