#include "ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "DevCloud.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "service/uAppUpdater.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace calvora {
namespace {

namespace fs = std::filesystem;

TEST(AppUpdater, VersionTextsCompareAsDottedNumbers) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"2.0.0.5", "2.0.0.4", 1}, {"2.0.0.5", "2.0.0.5", 0}, {"2.0", "2.0.0.0", 0}, {"1.10", "1.9", 1},
      {"1.x.3", "1.0.3", 0},     {" 1 . 2 ", "1.2", 0},     {"", "0.0.0.0", 0},   {"3", "10", -1},
  };
  for (const auto& c : cases) {
    const int result = CompareVersionText(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(AppUpdater, VersionIsReadFromTheMarkerInTheFileBytes) {
  test::TTempDir dir;
  // The marker straddles the boundary of the reader's 1 MiB blocks.
  std::string bytes = "\x7f" "ELF";
  bytes.resize((1 << 20) - 10, '\0');
  bytes += BuildVersionMarker("2.0.0.4") + std::string(100, 'y');
  test::WriteFile(dir.File("app"), bytes);
  EXPECT_EQ(GetFileVersionText(dir.File("app")), "2.0.0.4");

  test::WriteFile(dir.File("short"), test::FakeExecutable("3.1"));
  EXPECT_EQ(GetFileVersionText(dir.File("short")), "3.1.0.0");
  test::WriteFile(dir.File("plain"), std::string(5000, 'a'));
  EXPECT_EQ(GetFileVersionText(dir.File("plain")), "");
  EXPECT_EQ(GetFileVersionText(dir.File("missing")), "");

  // This test program carries the marker compiled into the core, and the
  // reader's own code does not hold a second copy of it.
  EXPECT_EQ(GetCurrentVersionText(), CALVORA_VERSION);

  struct Case {
    const char* descriptor;
    bool newer;
  } cases[] = {{"2.0.0.5", true}, {"2.0.0.4", false}, {"2.0", false}, {"  ", false}, {"2.0.1", true}};
  for (const auto& c : cases) {
    TUpdateInfo info;
    info.Version = c.descriptor;
    EXPECT_EQ(IsUpdateNewer(dir.File("app"), info), c.newer) << c.descriptor;
  }
  TUpdateInfo info;
  info.Version = "0.0.0.1";
  EXPECT_TRUE(IsUpdateNewer(dir.File("missing"), info));
}

TEST(AppUpdater, DescriptorMembersAndTheEnabledFlag) {
  struct Case {
    TJson node;
    bool enabled;
  } cases[] = {
      {TJson{{"Version", "1.2"}}, true},
      {TJson{{"Version", "1.2"}, {"Enabled", "Hayir"}}, false},
      {TJson{{"Version", "1.2"}, {"Enabled", false}}, false},
      {TJson{{"Version", "1.2"}, {"Aktif", "EVET"}}, true},
      {TJson{{"Version", "1.2"}, {"enabled", "1"}}, true},
      {TJson{{"Version", "1.2"}, {"Enabled", "aktif"}}, true},
      {TJson{{"Version", "1.2"}, {"Enabled", 2}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateInfoFromJson(c.node).Enabled, c.enabled) << c.node.dump();

  const TUpdateInfo info = UpdateInfoFromJson(TJson{{"Surum", " 2.1 "},
                                                    {"\"KontrolUrl\"", "\"http://x/c\""},
                                                    {"ServisUrl", "http://x/s"},
                                                    {"Aciklama", "Yeni"}});
  EXPECT_EQ(info.Version, "2.1");
  EXPECT_EQ(info.ControlUrl, "\"http://x/c\"");
  EXPECT_EQ(info.ServiceUrl, "http://x/s");
  EXPECT_EQ(info.Notes, "Yeni");
}

TEST(AppUpdater, OnlyPlausibleExecutablesAreKeptAfterADownload) {
  test::TTempDir dir;
  test::TFileServer server;
  server.Put("/ok", test::FakeExecutable("2.0.0.5"));
  server.Put("/small", "\x7f" "ELF" + std::string(40000 - 4, 'a'));
  server.Put("/html", "<html>" + std::string(100000, 'h') + "</html>");
  server.Put("/gone", "<html>gone</html>", 410);

  struct Case {
    const char* path;
    std::string error;
  } cases[] = {
      {"/small", "Indirilen dosya cok kucuk, gecerli bir uygulama dosyasi degil."},
      {"/html", "Indirilen dosya gecerli bir Windows uygulamasi degil."},
      {"/gone", "Indirme basarisiz (HTTP 410): " + server.Url("/gone")},
  };
  const std::string target = dir.File("updates/app.download");
  for (const auto& c : cases) {
    test::WriteFile(target, "older download");
    std::string error;
    EXPECT_FALSE(DownloadUpdateFile(server.Url(c.path), target, error));
    EXPECT_EQ(error, c.error);
    EXPECT_FALSE(FileExists(target)) << c.path;
  }

  std::string error;
  EXPECT_FALSE(DownloadUpdateFile("http://127.0.0.1:1/none", target, error));
  EXPECT_EQ(error.rfind("Indirme hatasi: ", 0), 0u) << error;
  EXPECT_FALSE(FileExists(target));

  ASSERT_TRUE(DownloadUpdateFile(server.Url("/ok"), target, error)) << error;
  EXPECT_EQ(GetFileVersionText(target), "2.0.0.5");
}

TEST(AppUpdater, ReplacementRenamesTheRunningFileAside) {
  test::TTestEnv env;
  const std::string exe = env.ProgramDir() + "/CalvoraService";
  test::WriteFile(exe, test::FakeExecutable("1.0.0.0"));
  fs::permissions(exe, fs::perms(0755));
  test::WriteFile(env.Root() + "/new1", test::FakeExecutable("2.0.0.0"));

  std::string error;
  ASSERT_TRUE(ReplaceExecutable(env.Env(), exe, env.Root() + "/new1", error)) << error;
  EXPECT_EQ(GetFileVersionText(exe), "2.0.0.0");
  EXPECT_EQ(GetFileVersionText(exe + ".old"), "1.0.0.0");
  EXPECT_FALSE(FileExists(env.Root() + "/new1"));
  EXPECT_TRUE((fs::status(exe).permissions() & fs::perms::owner_exec) != fs::perms::none);

  // A backup that cannot be removed (here: a folder with content) gives
  // way to a time-stamped name.
  DeleteFileIfExists(exe + ".old");
  ForceDirectories(exe + ".old/busy");
  test::WriteFile(env.Root() + "/new2", test::FakeExecutable("3.0.0.0"));
  ASSERT_TRUE(ReplaceExecutable(env.Env(), exe, env.Root() + "/new2", error)) << error;
  EXPECT_EQ(GetFileVersionText(exe), "3.0.0.0");
  EXPECT_EQ(GetFileVersionText(exe + ".20240305100000.old"), "2.0.0.0");

  EXPECT_FALSE(ReplaceExecutable(env.Env(), exe, env.Root() + "/absent", error));
  EXPECT_EQ(error, "Yeni surum dosyasi bulunamadi: " + env.Root() + "/absent");
  EXPECT_EQ(GetFileVersionText(exe), "3.0.0.0");

  test::WriteFile(env.ProgramDir() + "/notes.txt", "x");
  CleanupOldExecutables(env.ProgramDir());
  EXPECT_FALSE(FileExists(exe + ".20240305100000.old"));
  EXPECT_TRUE(DirectoryExists(exe + ".old"));
  EXPECT_TRUE(FileExists(env.ProgramDir() + "/notes.txt"));
  EXPECT_TRUE(FileExists(exe));
}

TEST(AppUpdater, DailyGateIsKeptPerProgram) {
  test::TTestEnv env;
  EXPECT_TRUE(ShouldCheckUpdatesToday(env.Env(), "Service"));
  RecordUpdateCheckDate(env.Env(), "Service");
  EXPECT_FALSE(ShouldCheckUpdatesToday(env.Env(), "Service"));
  EXPECT_TRUE(ShouldCheckUpdatesToday(env.Env(), "Control"));
  EXPECT_EQ(ReadIniFileValue(env.DataDir() + "/update_state.ini", "UpdateCheck", "Service"), "2024-03-05");
  env.Clock().AdvanceSeconds(14 * 3600);
  EXPECT_TRUE(ShouldCheckUpdatesToday(env.Env(), "Service"));
}

class ServiceUpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(serviceExe, test::FakeExecutable("1.0.0.0"));
    test::WriteFile(controlExe, test::FakeExecutable("1.0.0.0"));
  }
  void Publish(const TJson& node) { cloud.Cloud().Account().Write("AppUpdate", node); }

  test::TServiceCloud cloud;
  test::TFileServer files;
  test::TRecordingRunner runner;
  test::TTestEnv env{cloud.Deployment(), &runner};
  std::string serviceExe = env.ProgramDir() + "/CalvoraService";
  std::string controlExe = env.ProgramDir() + "/Calvora";
  test::TLogCapture log;
};

TEST_F(ServiceUpdateCheckTest, NewerVersionReplacesBothProgramsAndRestartsTheService) {
  files.Put("/Calvora", test::FakeExecutable("1.2.0.0"));
  files.Put("/CalvoraService", test::FakeExecutable("1.2.0.0"));
  Publish({{"Version", "1.2"}, {"ControlUrl", files.Url("/Calvora")}, {"ServiceUrl", files.Url("/CalvoraService")}});

  int reports = 0;
  RunServiceUpdateCheck(env.Env(), [&] {
    ++reports;
    EXPECT_TRUE(runner.Detached().empty());  // reported before the restart
  });
  EXPECT_EQ(GetFileVersionText(controlExe), "1.2.0.0");
  EXPECT_EQ(GetFileVersionText(serviceExe), "1.2.0.0");
  EXPECT_EQ(GetFileVersionText(serviceExe + ".old"), "1.0.0.0");
  EXPECT_FALSE(FileExists(env.DataDir() + "/updates/CalvoraService.download"));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Kontrol uygulamasi 1.2 surumune guncellendi."));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Servis 1.2 surumune guncellendi, yeniden baslatiliyor."));
  EXPECT_EQ(reports, 1);
  ASSERT_EQ(runner.Detached().size(), 1u);
  const auto restart = runner.Detached()[0];
  EXPECT_EQ(restart.program, "sh");
  ASSERT_EQ(restart.arguments.size(), 2u);
  EXPECT_EQ(restart.arguments[0], "-c");
  EXPECT_EQ(restart.arguments[1],
            "'systemctl' stop CalvoraBackupService; sleep 9; 'systemctl' start CalvoraBackupService");

  // The day is marked: a second check the same day asks nothing.
  const auto reads = cloud.Cloud().RequestCount("GET", "/rtdb/AppUpdate");
  RunServiceUpdateCheck(env.Env(), [&] { ++reports; });
  EXPECT_EQ(cloud.Cloud().RequestCount("GET", "/rtdb/AppUpdate"), reads);
  EXPECT_EQ(files.Hits("/CalvoraService"), 1);
}

TEST_F(ServiceUpdateCheckTest, NothingChangesWhenDisabledCurrentOrUnreadable) {
  files.Put("/CalvoraService", test::FakeExecutable("1.2.0.0"));
  struct Case {
    TJson node;
    TLogLevel level;
    std::string line;
  } cases[] = {
      {TJson{{"Version", "1.2"}, {"ServiceUrl", files.Url("/CalvoraService")}, {"Enabled", "hayir"}},
       TLogLevel::Info, "Uzaktan guncelleme devre disi (Enabled=false)."},
      {TJson{{"Notes", "x"}}, TLogLevel::Warn,
       "Guncelleme kontrolu yapilamadi: Guncelleme dugumunde surum bilgisi (Version) yok."},
      {TJson(), TLogLevel::Warn, "Guncelleme kontrolu yapilamadi: Firebase'de AppUpdate dugumu bulunamadi."},
      {TJson{{"Version", "1.0"}, {"ServiceUrl", files.Url("/CalvoraService")}}, TLogLevel::Info, ""},
      {TJson{{"Version", "1.3"}, {"ServiceUrl", files.Url("/missing")}}, TLogLevel::Warn,
       "Servis guncellenemedi: Indirme basarisiz (HTTP 404): " + files.Url("/missing")},
  };
  for (const auto& c : cases) {
    test::TLogCapture caseLog;
    Publish(c.node);
    DeleteFileIfExists(UpdateStateFilePath(env.Env()));
    bool reported = false;
    RunServiceUpdateCheck(env.Env(), [&] { reported = true; });
    if (!c.line.empty()) {
      EXPECT_TRUE(caseLog.Contains(c.level, c.line)) << c.line;
    }
    EXPECT_FALSE(reported);
    EXPECT_EQ(GetFileVersionText(serviceExe), "1.0.0.0");
  }
  EXPECT_TRUE(runner.Detached().empty());
}

TEST_F(ServiceUpdateCheckTest, APackagedInstallOnlyAnnouncesTheNewVersion) {
  test::WriteFile(env.ProgramDir() + "/package-managed", "");
  files.Put("/Calvora", test::FakeExecutable("1.2.0.0"));
  files.Put("/CalvoraService", test::FakeExecutable("1.2.0.0"));
  Publish({{"Version", "1.2"}, {"ControlUrl", files.Url("/Calvora")}, {"ServiceUrl", files.Url("/CalvoraService")}});
  bool reported = false;
  RunServiceUpdateCheck(env.Env(), [&] { reported = true; });
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Yeni surum 1.2 mevcut. Program paket yoneticisi ile kurulu; "
                                            "guncelleme paket yoneticisi ile yapilmali."));
  EXPECT_EQ(GetFileVersionText(serviceExe), "1.0.0.0");
  EXPECT_EQ(GetFileVersionText(controlExe), "1.0.0.0");
  EXPECT_EQ(files.Hits("/Calvora") + files.Hits("/CalvoraService"), 0);
  EXPECT_FALSE(reported);
  EXPECT_TRUE(runner.Detached().empty());
}

TEST_F(ServiceUpdateCheckTest, ARefusedReadIsAnErrorNotAMissingNode) {
  Publish({{"Version", "1.2"}});
  devcloud::FaultRule rule;
  rule.pathPattern = "^/rtdb/AppUpdate";
  rule.status = 403;
  rule.remaining = 10;
  rule.body = R"({"error":"Permission denied"})";
  cloud.Cloud().AddFault(rule);
  TUpdateInfo info;
  std::string error;
  EXPECT_FALSE(ReadUpdateInfo(env.Env(), info, error));
  EXPECT_EQ(error, "Guncelleme bilgisi okunamadi: Permission denied");
}

TEST_F(ServiceUpdateCheckTest, FailedRestartCommandIsReportedAndTheNewFileStays) {
  files.Put("/CalvoraService", test::FakeExecutable("1.2.0.0"));
  Publish({{"Version", "1.2"}, {"ServiceUrl", files.Url("/CalvoraService")}});
  runner.failDetached = true;
  RunServiceUpdateCheck(env.Env(), nullptr);
  EXPECT_EQ(GetFileVersionText(serviceExe), "1.2.0.0");
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Servis yeniden baslatma komutu verilemedi: No such file or directory. Yeni surum bir "
                           "sonraki servis baslangicinda devreye girecek."));
}

}  // namespace
}  // namespace calvora
