#include "ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/AppError.h"
#include "platform/stop_request.h"
#include "service/uBackupServiceMain.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace calvora {
namespace {

class ServiceHostTest : public ::testing::Test {
 protected:
  ServiceHostTest() {
    platform::ResetStopRequest();
    cloud.Cloud().Account().Write("Lisanslar/musteri",
                                  devcloud::DatabaseJson{{"LoginName", "musteri"}, {"Sifre", "pw"}});
    SaveSignIn(env.Env(), TAccountCredentials{"musteri", "pw", "Deneme"});
  }
  // The service starts the process-wide log on this test's folder and clock.
  ~ServiceHostTest() override {
    FinalizeLog();
    platform::ResetStopRequest();
  }

  TCalvoraBackupService::TOperations Operations() {
    TCalvoraBackupService::TOperations operations;
    operations.RunDuePlans = [this](TDateTime startedAt) {
      planPasses.push_back(startedAt);
      if (duringPlans) duringPlans();
      return 0;
    };
    operations.RefreshSavedSignIn = [this](std::string& message, std::string& login) {
      refreshes.push_back(env.Clock().Now());
      login = "musteri";
      message = "Kayitli oturum gecersiz.";
      return signInCheck;
    };
    operations.RunUpdateCheck = [this] { ++updateChecks; };
    return operations;
  }
  std::int64_t Heartbeats() { return cloud.Cloud().RequestCount("PATCH", "/rtdb/Lisanslar/musteri"); }
  std::string Status() { return cloud.Cloud().Account().Read("Lisanslar/musteri/ServisDurumu").get<std::string>(); }

  test::TServiceCloud cloud;
  test::TTestEnv env{cloud.Deployment()};
  std::vector<TDateTime> planPasses, refreshes;
  int updateChecks = 0;
  TSavedSignInCheck signInCheck = TSavedSignInCheck::Valid;
  std::function<void()> duringPlans;
};

TEST_F(ServiceHostTest, TicksEveryThirtySecondsWithHourlyHeartbeats) {
  test::TLogCapture log;
  TCalvoraBackupService service(env.Env(), Operations());
  EXPECT_EQ(service.Name(), "CalvoraBackupService");
  EXPECT_EQ(service.DisplayName(), "Orvane Bulut Yedekleme Servisi");
  const TDateTime start = env.Clock().Now();
  service.ServiceStart();
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Windows service basladi (v" CALVORA_VERSION ")"));
  EXPECT_EQ(Heartbeats(), 1);
  EXPECT_EQ(Status(), "Calisiyor");

  // 125 ticks: 62 minutes of service life.
  service.ServiceExecute(125);
  EXPECT_EQ(planPasses.size(), 125u);
  for (TDateTime startedAt : planPasses) EXPECT_DOUBLE_EQ(startedAt, start);
  EXPECT_EQ(updateChecks, 125);
  EXPECT_EQ(env.Clock().Sleeps(), std::vector<std::int64_t>(124, 30000));
  EXPECT_EQ(Heartbeats(), 2);  // start, then once the hour was full
  EXPECT_EQ(refreshes.size(), 1u);

  service.ServiceStop();
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Windows service durduruluyor"));
  EXPECT_EQ(Heartbeats(), 3);
  EXPECT_EQ(Status(), "Durduruldu");
}

TEST_F(ServiceHostTest, UnreachableAccountDirectoryCostsOnlyWarningsAndRetries) {
  ClearSavedSignIn(env.Env());
  test::TLogCapture log;
  TCalvoraBackupService service(env.Env(), Operations());
  service.ServiceStart();
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Servis heartbeat Firebase'e yazilamadi: "));
  service.ServiceExecute(3);
  EXPECT_EQ(planPasses.size(), 3u);
  int warnings = 0;
  for (const auto& line : log.Lines()) warnings += line.find("Servis heartbeat Firebase'e yazilamadi") != std::string::npos;
  EXPECT_EQ(warnings, 4);  // start and every tick: a failed report is tried again
  EXPECT_DOUBLE_EQ(service.LastHeartbeatAt(), 0);
}

TEST_F(ServiceHostTest, SavedSignInIsRecheckedOnceADayAlsoPastMidnight) {
  env.Clock().Set(EncodeDateTime(2024, 3, 5, 23, 58, 0));
  signInCheck = TSavedSignInCheck::Rejected;
  test::TLogCapture log;
  TCalvoraBackupService service(env.Env(), Operations());
  service.ServiceStart();
  service.ServiceExecute(8);  // 23:58:00 ... 00:01:30
  ASSERT_EQ(refreshes.size(), 2u);
  EXPECT_DOUBLE_EQ(refreshes[0], EncodeDateTime(2024, 3, 5, 23, 58, 0));
  EXPECT_DOUBLE_EQ(refreshes[1], EncodeDateTime(2024, 3, 6, 0, 0, 0));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Kayitli oturum gecersiz."));
  // The failed re-check changed nothing else.
  EXPECT_EQ(planPasses.size(), 8u);
  EXPECT_EQ(Heartbeats(), 1);
}

TEST_F(ServiceHostTest, UnreachableDirectoryRetriesTheSignInCheckSoonNotTomorrow) {
  env.Clock().Set(EncodeDateTime(2024, 3, 5, 10, 0, 0));
  signInCheck = TSavedSignInCheck::Unreachable;
  test::TLogCapture log;
  TCalvoraBackupService service(env.Env(), Operations());
  service.ServiceStart();
  service.ServiceExecute(31);  // 10:00:00 ... 10:15:00
  ASSERT_EQ(refreshes.size(), 2u);
  EXPECT_DOUBLE_EQ(refreshes[1], EncodeDateTime(2024, 3, 5, 10, 15, 0));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "yeniden denenecek: Kayitli oturum gecersiz."));
  // Once the directory answers, the check is settled for the day.
  signInCheck = TSavedSignInCheck::Valid;
  service.ServiceExecute(31);
  EXPECT_EQ(refreshes.size(), 3u);
}

TEST_F(ServiceHostTest, ErrorsOfATickAreLoggedAndTheLoopGoesOn) {
  int pass = 0;
  duringPlans = [&] {
    if (++pass == 1) throw EAppError("Plan dosyasi okunamadi");
  };
  test::TLogCapture log;
  TCalvoraBackupService service(env.Env(), Operations());
  service.ServiceStart();
  service.ServiceExecute(2);
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Service scheduler hatasi | EAppError: Plan dosyasi okunamadi"));
  EXPECT_EQ(pass, 2);
  EXPECT_EQ(updateChecks, 1);  // the failed tick ended at its error
}

TEST_F(ServiceHostTest, StopRequestEndsTheLoopAfterTheCurrentTick) {
  duringPlans = [&] {
    if (planPasses.size() == 2) platform::RequestStop();
  };
  TCalvoraBackupService service(env.Env(), Operations());
  service.ServiceStart();
  service.ServiceExecute();  // no tick limit
  EXPECT_EQ(planPasses.size(), 2u);
  EXPECT_EQ(updateChecks, 2);
  EXPECT_TRUE(service.Stopped());
  service.ServiceStop();
  EXPECT_EQ(Status(), "Durduruldu");
}

TEST(StopRequest, TerminationSignalWakesALongWait) {
  platform::ResetStopRequest();
  platform::InstallStopSignalHandlers();
  EXPECT_FALSE(platform::WaitForStopRequest(10));
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::raise(SIGTERM);
  });
  // Without the wake-up this would sleep for ten minutes.
  EXPECT_TRUE(platform::WaitForStopRequest(600000));
  signaller.join();
  EXPECT_TRUE(platform::StopRequested());
  platform::ResetStopRequest();
  EXPECT_FALSE(platform::StopRequested());
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace calvora
