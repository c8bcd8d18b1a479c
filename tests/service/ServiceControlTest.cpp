#include "TestSupport.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "service/uServiceManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace calvora {
namespace {

// A fake systemctl with its state in a temporary folder, and the unit
// folder beside it.
class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeDir = env.Root() + "/systemctl";
    unitDir = env.Root() + "/units";
    ForceDirectories(fakeDir);
    systemctl = fakeDir + "/systemctl";
    std::filesystem::copy_file(test::SourceDir() + "/tests/service/fake_systemctl.py", systemctl);
    setenv("CALVORA_SYSTEMCTL", systemctl.c_str(), 1);
    setenv("CALVORA_SYSTEMD_UNIT_DIR", unitDir.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("CALVORA_SYSTEMCTL");
    unsetenv("CALVORA_SYSTEMD_UNIT_DIR");
  }
  std::string Calls() const { return test::ReadFile(fakeDir + "/systemctl-calls.txt"); }
  void PutServiceExe() { test::WriteFile(GetServiceExePath(env.Env()), "\x7f" "ELF"); }
  std::string Query(TServiceRunState& state) {
    std::string text;
    EXPECT_TRUE(QueryBackupServiceState(env.Env(), state, text)) << text;
    return text;
  }

  test::TTestEnv env;
  std::string fakeDir, unitDir, systemctl;
};

TEST_F(ServiceControlTest, InstallStartUninstallStopThroughTheServiceManager) {
  TServiceRunState state = srsUnknown;
  EXPECT_EQ(Query(state), "Kurulu değil");
  EXPECT_EQ(state, srsNotInstalled);

  // No executable: the path is named and systemctl is never asked.
  std::string error;
  EXPECT_FALSE(InstallBackupService(env.Env(), error));
  EXPECT_EQ(error, "Servis exe bulunamadı: " + env.ProgramDir() + "/CalvoraService");
  EXPECT_EQ(Calls().find("enable"), std::string::npos);

  PutServiceExe();
  ASSERT_TRUE(InstallBackupService(env.Env(), error)) << error;
  EXPECT_EQ(error, "");
  const std::string unit = test::ReadFile(unitDir + "/CalvoraBackupService.service");
  EXPECT_NE(unit.find("Description=Brimora Service\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"" + env.ProgramDir() + "/CalvoraService\"\n"), std::string::npos);
  EXPECT_NE(unit.find("KillMode=process\n"), std::string::npos);
  EXPECT_NE(unit.find("WantedBy=multi-user.target"), std::string::npos);
  EXPECT_NE(Calls().find("daemon-reload\nenable CalvoraBackupService.service\n"), std::string::npos);
  EXPECT_EQ(Query(state), "Durduruldu");

  EXPECT_FALSE(InstallBackupService(env.Env(), error));
  EXPECT_NE(error.find("already exists"), std::string::npos);

  ASSERT_TRUE(StartBackupService(env.Env(), error)) << error;
  EXPECT_NE(Calls().find("start --no-block CalvoraBackupService.service"), std::string::npos);
  EXPECT_EQ(Query(state), "Çalışıyor");
  EXPECT_EQ(state, srsRunning);

  // Removing a running service leaves it running until it stops.
  ASSERT_TRUE(UninstallBackupService(env.Env(), error)) << error;
  EXPECT_FALSE(FileExists(unitDir + "/CalvoraBackupService.service"));
  EXPECT_EQ(Query(state), "Çalışıyor");
  ASSERT_TRUE(StopBackupService(env.Env(), error)) << error;
  EXPECT_EQ(Query(state), "Kurulu değil");

  // The manager's own words when there is nothing to act on.
  EXPECT_FALSE(UninstallBackupService(env.Env(), error));
  EXPECT_EQ(error, "Failed to disable unit: Unit file CalvoraBackupService.service does not exist.");
  EXPECT_FALSE(StartBackupService(env.Env(), error));
  EXPECT_EQ(error, "Failed to start CalvoraBackupService.service: Unit CalvoraBackupService.service not found.");
}

TEST_F(ServiceControlTest, FailedQueriesReportUnknownWithTheReason) {
  test::WriteFile(fakeDir + "/deny", "");
  TServiceRunState state = srsRunning;
  std::string text;
  EXPECT_FALSE(QueryBackupServiceState(env.Env(), state, text));
  EXPECT_EQ(state, srsUnknown);
  EXPECT_EQ(text, "Failed to connect to bus: Access denied");

  setenv("CALVORA_SYSTEMCTL", (env.Root() + "/no-such-systemctl").c_str(), 1);
  EXPECT_FALSE(QueryBackupServiceState(env.Env(), state, text));
  EXPECT_EQ(state, srsUnknown);
  EXPECT_EQ(text, "No such file or directory");
}

TEST(ServiceRunState, UnitStatesMapToServiceStates) {
  struct Case {
    const char* load;
    const char* active;
    TServiceRunState state;
    const char* text;
  } cases[] = {
      {"not-found", "inactive", srsNotInstalled, "Kurulu değil"},
      {"loaded", "inactive", srsStopped, "Durduruldu"},
      {"loaded", "failed", srsStopped, "Durduruldu"},
      {"loaded", "activating", srsStartPending, "Başlatılıyor"},
      {"loaded", "deactivating", srsStopPending, "Durduruluyor"},
      {"loaded", "active", srsRunning, "Çalışıyor"},
      {"not-found", "active", srsRunning, "Çalışıyor"},
      {"loaded", "maintenance", srsUnknown, "Bilinmiyor"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServiceRunStateFromUnit(c.load, c.active), c.state) << c.load << " " << c.active;
    EXPECT_EQ(ServiceRunStateText(c.state), c.text);
  }
}

TEST_F(ServiceControlTest, CommandLineRunsOneOperationAndGivesItsExitCode) {
  PutServiceExe();
  std::string message, error;
  bool success = false;
  int exitCode = -1;

  EXPECT_FALSE(HandleServiceOperationCommandLine(env.Env(), {}, message, success, exitCode));
  EXPECT_FALSE(HandleServiceOperationCommandLine(env.Env(), {"--verbose", "--service-op"}, message, success,
                                                 exitCode));

  ASSERT_TRUE(HandleServiceOperationCommandLine(env.Env(), {"--service-op", "Install"}, message, success,
                                                exitCode));
  EXPECT_TRUE(success);
  EXPECT_EQ(message, "Servis islemi tamamlandi.");
  EXPECT_EQ(exitCode, 0);

  ASSERT_TRUE(HandleServiceOperationCommandLine(env.Env(), {"x", "--SERVICE-OP", "START"}, message, success,
                                                exitCode));
  EXPECT_EQ(exitCode, 0);
  TServiceRunState state = srsUnknown;
  EXPECT_EQ(Query(state), "Çalışıyor");

  ASSERT_TRUE(HandleServiceOperationCommandLine(env.Env(), {"--service-op", "  stop  "}, message, success,
                                                exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(Query(state), "Durduruldu");

  ASSERT_TRUE(HandleServiceOperationCommandLine(env.Env(), {"--service-op", "restart"}, message, success,
                                                exitCode));
  EXPECT_FALSE(success);
  EXPECT_EQ(message, "Bilinmeyen servis islemi: restart");
  EXPECT_EQ(exitCode, 1);

  ASSERT_TRUE(HandleServiceOperationCommandLine(env.Env(), {"--service-op", "install"}, message, success,
                                                exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_NE(message.find("already exists"), std::string::npos);
}


// The unit keeps the rest of the machine out of the service's reach, and
// every key of it is one this machine's systemd knows.
TEST_F(ServiceControlTest, UnitIsSandboxedWithKeysSystemdAccepts) {
  const std::string programDir = env.Root() + "/program 100%";
  ForceDirectories(programDir);
  const std::string exe = programDir + "/CalvoraService";
  test::WriteFile(exe, "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
  const std::string unit = BuildServiceUnitText(exe, "Brimora Service");
  for (const char* line : {"PrivateTmp=yes\n", "NoNewPrivileges=yes\n", "ProtectSystem=yes\n",
                           "ProtectKernelTunables=yes\n", "ProtectControlGroups=yes\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  EXPECT_NE(unit.find("ReadWritePaths=\"" + env.Root() + "/program 100%%\"\n"), std::string::npos) << unit;
  // Home folders and /etc stay writable: work folders and the machine key.
  EXPECT_EQ(unit.find("ProtectHome"), std::string::npos);
  EXPECT_EQ(unit.find("ProtectSystem=full"), std::string::npos);

  if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string unitFile = unitDir + "/CalvoraBackupService.service";
  test::WriteFile(unitFile, unit);
  const std::string report = env.Root() + "/verify.txt";
  std::system(("systemd-analyze verify '" + unitFile + "' >'" + report + "' 2>&1").c_str());
  EXPECT_EQ(test::ReadFile(report), "");
}

}  // namespace
}  // namespace calvora
