// calvoractl as a user types it: its own program folder (the program, the
// scripts and a deployment file pointing at the emulator; data directory
// "config" beside it), an account in the emulator's directory with a
// central Google account linked to it, and a fake systemctl.
#include "../service/ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/Crypto.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using devcloud::DatabaseJson;

struct TCtlResult {
  int exit = -1;
  std::string out;
  std::string err;
};

class CliProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appDir = env.Root() + "/app";
    fs::create_directories(appDir);
    fs::copy_file(CALVORA_CTL_EXE, appDir + "/calvoractl");
    fs::copy(CALVORA_SQL_DIR, appDir + "/sql", fs::copy_options::recursive);
    deployment = cloud.Deployment();
    SaveDeploymentSettings(appDir + "/deployment.ini", deployment);

    auto& directory = cloud.Cloud().Account();
    directory.Write("Lisanslar/musteri",
                    DatabaseJson{{"LoginName", "musteri"}, {"Sifre", "pw"}, {"Musteri", "Deneme Ltd"}});
    directory.Write("GoogleDriveAccounts/merkez", DatabaseJson{{"DisplayName", "Merkez Drive"},
                                                               {"AccessToken", cloud.AccessToken()},
                                                               {"RefreshToken", cloud.RefreshToken()}});
    directory.Write("GoogleDriveAccountLinks/l1", DatabaseJson{{"AccountLoginName", "musteri"},
                                                               {"GoogleAccountID", "merkez"},
                                                               {"IsDefault", true}});

    fakeDir = env.Root() + "/systemctl";
    unitDir = env.Root() + "/units";
    fs::create_directories(fakeDir);
    fs::copy_file(test::SourceDir() + "/tests/service/fake_systemctl.py", fakeDir + "/systemctl");
    source = env.Root() + "/kaynak";
    test::WriteFile(source + "/a.txt", "ilk");
    test::WriteFile(source + "/alt/b.txt", "alt dosya");
  }

  TCtlResult Ctl(const std::vector<std::string>& args, const std::string& input = "") {
    const std::string errPath = env.Root() + "/stderr.txt";
    platform::ProcessRequest request;
    request.program = "/bin/sh";
    request.arguments = {"-c", "exec \"$0\" \"$@\" 2>\"$CTL_ERR\"", appDir + "/calvoractl"};
    request.arguments.insert(request.arguments.end(), args.begin(), args.end());
    request.standardInput = input;
    request.captureOutput = true;
    request.environment = {{"CTL_ERR", errPath},
                           {"CALVORA_SYSTEMCTL", fakeDir + "/systemctl"},
                           {"CALVORA_SYSTEMD_UNIT_DIR", unitDir}};
    const auto result = platform::SystemProcessRunner().Run(request);
    EXPECT_TRUE(result.started) << result.error;
    return {result.exitCode, result.output, FileExists(errPath) ? test::ReadFile(errPath) : ""};
  }

  // Through a pseudo-terminal; the program's output with "exit=N" last.
  std::string OnTerminal(const std::vector<std::string>& args, const std::string& interruptAfter = "",
                         const std::vector<std::string>& answer = {}) {
    platform::ProcessRequest request;
    request.program = "/usr/bin/python3";
    request.arguments = {test::SourceDir() + "/tests/cli/pty_run.py"};
    if (!interruptAfter.empty()) request.arguments.insert(request.arguments.end(), {"--interrupt-after", interruptAfter});
    if (!answer.empty()) request.arguments.insert(request.arguments.end(), {"--answer", answer[0], answer[1]});
    request.arguments.push_back(appDir + "/calvoractl");
    request.arguments.insert(request.arguments.end(), args.begin(), args.end());
    request.captureOutput = true;
    request.environment = {{"CALVORA_SYSTEMCTL", fakeDir + "/systemctl"}, {"CALVORA_SYSTEMD_UNIT_DIR", unitDir}};
    return platform::SystemProcessRunner().Run(request).output;
  }

  // The data directory as the desktop and the service see it; a fresh
  // environment each time, so no cache of an earlier look answers.
  TEnv& AppEnv() {
    TConfigLocations locations;
    locations.ExecutableDir = appDir;
    locations.ProgramData = env.Root() + "/programdata";
    locations.AppData = env.Root() + "/appdata";
    configs.push_back(std::make_unique<TAppConfig>(locations));
    envs.push_back(std::make_unique<TEnv>(*configs.back(), deployment, env.Clock(), platform::SystemProcessRunner(),
                                          appDir, env.TempDir()));
    return *envs.back();
  }
  std::vector<TBackupPlan> Plans() { return TBackupPlanStore(AppEnv()).LoadPlans(); }

  void SignIn() {
    const auto r = Ctl({"signin", "musteri", "--password-stdin"}, "pw\n");
    ASSERT_EQ(r.exit, 0) << r.err;
  }
  // A folder plan "Belgeler" of `source` into the Drive folder "Belgeler".
  std::string AddFolderPlan(const std::string& name = "Belgeler", const std::string& folder = "") {
    const auto r = Ctl({"plans", "add", "--name", name, "--type", "folder", "--source-folder",
                        folder.empty() ? source : folder, "--drive-folder", name, "--json"});
    EXPECT_EQ(r.exit, 0) << r.err;
    TJson answer;
    EXPECT_TRUE(TryParseJson(r.out, answer)) << r.out;
    return JsonMemberText(answer, "ID");
  }

  test::TServiceCloud cloud;
  test::TTestEnv env;
  TDeploymentSettings deployment;
  std::string appDir, fakeDir, unitDir, source;
  std::vector<std::unique_ptr<TAppConfig>> configs;
  std::vector<std::unique_ptr<TEnv>> envs;
};

TEST_F(CliProgramTest, HelpVersionAndWrongUsageTouchNoData) {
  auto r = Ctl({"--version"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_NE(r.out.find(CALVORA_VERSION), std::string::npos) << r.out;
  r = Ctl({"--help"});
  EXPECT_EQ(r.exit, 0);
  for (const char* command : {"signin", "plans add", "run", "status", "download-revision", "service install"})
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  r = Ctl({"plans", "add", "--help"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_NE(r.out.find("--interval-minutes"), std::string::npos);
  EXPECT_NE(Ctl({"service", "--help"}).out.find("service uninstall"), std::string::npos);

  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{"frobnicate"}, "calvoractl: Bilinmeyen komut: frobnicate (calvoractl --help)\n"},
      {{"plans", "add", "--bogus"}, "calvoractl: Bilinmeyen secenek: --bogus (calvoractl plans add --help)\n"},
      {{"plans", "show"}, "calvoractl: Kullanim: calvoractl plans show PLAN (calvoractl plans show --help)\n"},
      {{"download", "P", "--to"}, "calvoractl: --to icin deger eksik. (calvoractl download --help)\n"},
  };
  for (const auto& [args, message] : wrong) {
    r = Ctl(args);
    EXPECT_EQ(r.exit, 2) << args[0];
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(DirectoryExists(appDir + "/config"));
}

TEST_F(CliProgramTest, SignInWhoAmIAndSignOutUseTheSavedSignIn) {
  auto r = Ctl({"signin", "musteri", "--password-stdin"}, "PW\n");
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Hatali sifre.\n");
  // No terminal to ask and no --password-stdin: refused, nothing read.
  r = Ctl({"signin", "musteri"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("--password-stdin"), std::string::npos) << r.err;
  EXPECT_FALSE(HasSavedSignIn(AppEnv()));

  // On a terminal the password is asked without echo.
  const std::string screen = OnTerminal({"signin", "musteri"}, "", {"Parola: ", "pw"});
  EXPECT_NE(screen.find("Giris basarili."), std::string::npos) << screen;
  EXPECT_EQ(screen.find("pw"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\nexit=0\n"), std::string::npos) << screen;
  ASSERT_EQ(Ctl({"signout"}).exit, 0);

  r = Ctl({"signin", "  musteri ", "--password-stdin"}, "pw\r\n");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "Giris basarili.\nAktif Hesap: Deneme Ltd (musteri)\n");
  TAccountCredentials saved;
  ASSERT_TRUE(LoadSavedSignIn(AppEnv(), saved));
  EXPECT_EQ(saved.LoginName, "musteri");
  EXPECT_EQ(saved.Password, "pw");
  // The central Google token came along for the service.
  EXPECT_TRUE(FileExists(AppEnv().Config().GetGoogleTokenCachePath()));

  r = Ctl({"whoami"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out.find("Hesap:"), std::string::npos);
  EXPECT_NE(r.out.find("Deneme Ltd"), std::string::npos);
  EXPECT_NE(r.out.find("Drive Kota: 0 B / "), std::string::npos) << r.out;
  TJson who;
  ASSERT_TRUE(TryParseJson(Ctl({"whoami", "--json"}).out, who));
  EXPECT_EQ(who["LoginName"], "musteri");
  EXPECT_EQ(who["Quota"]["UsedBytes"], 0);

  r = Ctl({"signout"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out, "Oturum kapatildi.\n");
  EXPECT_FALSE(HasSavedSignIn(AppEnv()));
  r = Ctl({"whoami"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, std::string("calvoractl: ") + kNoSavedSignInMessage + "\n");
}

TEST_F(CliProgramTest, PlansAreAddedEditedAndRemovedKeepingTheServicesRunFields) {
  auto r = Ctl({"plans", "add", "--type", "folder", "--source-folder", source});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Gorev adi zorunlu.\n");
  EXPECT_TRUE(Plans().empty());

  r = Ctl({"plans", "add", "--name", "Belgeler", "--type", "Folder", "--source-folder", source, "--drive-folder",
           "Belgeler", "--schedule-type", "Weekly", "--weekly-days", "6, 2,4", "--schedule-time", "7:05",
           "--set", "LocalBackupRetentionDays=7"});
  ASSERT_EQ(r.exit, 0) << r.err;
  auto plans = Plans();
  ASSERT_EQ(plans.size(), 1u);
  TBackupPlan plan = plans[0];
  EXPECT_EQ(r.out, "Plan eklendi: Belgeler " + plan.ID + "\n");
  EXPECT_EQ(plan.BackupType, "folder");
  EXPECT_EQ(plan.ScheduleType, "weekly");
  EXPECT_EQ(plan.WeeklyDays, "2,4,6");
  EXPECT_EQ(plan.ScheduleTime, "07:05");
  EXPECT_EQ(plan.LocalBackupRetentionDays, 7);
  // The desktop's new plan, with what a folder plan cannot have cleared.
  EXPECT_TRUE(plan.Enabled);
  EXPECT_TRUE(plan.AutoRun);
  EXPECT_FALSE(plan.DeleteLocalAfterUpload);
  EXPECT_FALSE(plan.UseCompression);

  // The service records a run meanwhile.
  plan.LastStatus = "Başarılı";
  plan.LastMessage = "servisin calismasi";
  ASSERT_TRUE(TBackupPlanStore(AppEnv()).SavePlanRunFields(plan));

  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--set", "IntervalMinutes=abc"}, "calvoractl: IntervalMinutes icin tam sayi bekleniyor: abc\n"},
      {{"--weekly-days", "8"}, "calvoractl: WeeklyDays 1 (Pazar) ile 7 (Cumartesi) arasi gun numaralari olmali: 8\n"},
      {{"--enabled=belki"}, "calvoractl: Enabled icin true veya false bekleniyor: belki\n"},
      {{"--set", "LastStatus=x"}, "calvoractl: Bilinmeyen plan alani: LastStatus (calvoractl plans edit --help)\n"},
  };
  for (const auto& [options, message] : refused) {
    std::vector<std::string> args = {"plans", "edit", "Belgeler"};
    args.insert(args.end(), options.begin(), options.end());
    r = Ctl(args);
    EXPECT_NE(r.exit, 0);
    EXPECT_EQ(r.err, message);
  }

  r = Ctl({"plans", "edit", "belgeler", "--set", "IntervalMinutes=30", "--enabled=false"});
  ASSERT_EQ(r.exit, 0) << r.err;
  plan = Plans().at(0);
  EXPECT_EQ(plan.IntervalMinutes, 30);
  EXPECT_FALSE(plan.Enabled);
  EXPECT_EQ(plan.LastStatus, "Başarılı");
  EXPECT_EQ(plan.LastMessage, "servisin calismasi");

  TJson shown;
  ASSERT_TRUE(TryParseJson(Ctl({"plans", "show", plan.ID, "--json"}).out, shown));
  EXPECT_EQ(shown["Name"], "Belgeler");
  EXPECT_EQ(shown["HasRarPassword"], false);
  EXPECT_FALSE(shown.contains("RarPasswordProtected"));
  r = Ctl({"plans", "list"});
  EXPECT_NE(r.out.find("Haftalik 07:05"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Pasif"), std::string::npos);

  // A second plan of the same name: the name no longer tells them apart.
  AddFolderPlan("BELGELER");
  r = Ctl({"plans", "show", "belgeler"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Bu adi tasiyan birden cok plan var, plan ID'sini kullanin: belgeler\n");
  r = Ctl({"plans", "remove", plan.ID});
  ASSERT_EQ(r.exit, 0) << r.err;
  plans = Plans();
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].Name, "BELGELER");
  EXPECT_EQ(Ctl({"plans", "remove", "nosuch"}).err, "calvoractl: Plan bulunamadı: nosuch\n");
}

TEST_F(CliProgramTest, ExportLeavesPasswordsOutAndImportIsAllOrNothing) {
  auto r = Ctl({"plans", "add", "--name", "Muhasebe", "--database", "Muhasebe", "--use-rar-encryption",
                "--rar-password-stdin"},
               "Arsiv-Sifre\n");
  ASSERT_EQ(r.exit, 0) << r.err;
  TBackupPlan plan = Plans().at(0);
  EXPECT_EQ(plan.RarPassword, "Arsiv-Sifre");
  plan.LastStatus = "Hatalı";
  TBackupPlanStore(AppEnv()).SavePlanRunFields(plan);

  const std::string file = env.Root() + "/plans.json";
  r = Ctl({"plans", "export", "--to", file});
  ASSERT_EQ(r.exit, 0) << r.err;
  const std::string text = test::ReadFile(file);
  EXPECT_EQ(text.find("Arsiv-Sifre"), std::string::npos);
  EXPECT_EQ(text.find("RarPassword"), std::string::npos);
  EXPECT_EQ(text.find("LastStatus"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  r = Ctl({"plans", "export", "--to", file});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Dosya zaten var ya da olusturulamadi: " + file + "\n");

  // The same plan renamed, and something that is no plan: nothing is saved.
  TJson list;
  ASSERT_TRUE(TryParseJson(text, list));
  list[0]["Name"] = "Muhasebe 2";
  list.push_back("plan degil");
  r = Ctl({"plans", "import", "-"}, JsonToText(list));
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Plan 2 bir JSON nesnesi degil.\n");
  EXPECT_EQ(Plans().at(0).Name, "Muhasebe");

  list.erase(1);
  TJson added = list[0];
  added.erase("ID");
  added["Name"] = "Stok";
  list.push_back(added);
  // An export carries no password, so a new encrypted plan cannot come in.
  r = Ctl({"plans", "import", "-"}, JsonToText(list));
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Plan 2 (Stok): RAR sifreleme secili iken RAR sifresi zorunlu.\n");
  list[1]["UseRarEncryption"] = false;
  r = Ctl({"plans", "import", "-"}, JsonToText(list));
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "1 plan eklendi, 1 plan guncellendi.\n");
  const auto plans = Plans();
  ASSERT_EQ(plans.size(), 2u);
  EXPECT_EQ(plans[0].Name, "Muhasebe 2");
  EXPECT_EQ(plans[0].RarPassword, "Arsiv-Sifre");  // kept from the stored plan
  EXPECT_EQ(plans[0].LastStatus, "Hatalı");
  EXPECT_EQ(plans[1].Name, "Stok");
  EXPECT_NE(plans[1].ID, plans[0].ID);
}

TEST_F(CliProgramTest, RunPrintsStagesAndStatusShowsTheOutcome) {
  SignIn();
  const std::string id = AddFolderPlan();
  auto r = Ctl({"run", "Belgeler"});
  ASSERT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Manuel yedekleme baslatildi: Belgeler\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Asama: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n2 dosya kontrol edildi: 2 yeni, 0 guncellendi, 0 degismemis.\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find('\r'), std::string::npos);  // no bar outside a terminal
  const TBackupPlan plan = Plans().at(0);
  EXPECT_EQ(plan.LastStatus, "Başarılı");
  TPlanActivitySnapshot activity;
  ASSERT_TRUE(TryGetPlanActivity(AppEnv(), id, activity));
  EXPECT_FALSE(activity.IsRunning);
  EXPECT_EQ(activity.CurrentState, "success");

  r = Ctl({"status"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Servis: Kurulu değil (0 aktif gorev)\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Belgeler"), std::string::npos);
  EXPECT_NE(r.out.find("Tamam"), std::string::npos);
  EXPECT_NE(r.out.find("Başarılı"), std::string::npos);
  TJson status;
  ASSERT_TRUE(TryParseJson(Ctl({"status", "Belgeler", "--json"}).out, status));
  EXPECT_EQ(status["Plans"][0]["State"], "Tamam");
  EXPECT_EQ(status["Plans"][0]["Upload"], "Tamamlandi");
  EXPECT_EQ(status["Service"]["Text"], "Kurulu değil");
  r = Ctl({"status", "Belgeler"});
  EXPECT_NE(r.out.find("Upload Durumu:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Son Hareketler:"), std::string::npos);

  r = Ctl({"run", "nosuch"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Plan bulunamadı: nosuch\n");
}

TEST_F(CliProgramTest, ProgressBarOnATerminalAndCtrlCStopsTheRunCleanly) {
  SignIn();
  // 20 MiB: an upload in three pieces (8 + 8 + 4 MiB), each reported.
  std::string big(20 << 20, 'x');
  test::WriteFile(source + "/buyuk.bin", big);
  AddFolderPlan();
  std::string screen = OnTerminal({"run", "Belgeler"});
  EXPECT_NE(screen.find("\nexit=0\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r"), std::string::npos);
  EXPECT_NE(screen.find("] 40%  8.0 MB / 20.0 MB"), std::string::npos) << screen;
  EXPECT_NE(screen.find("kalan "), std::string::npos) << screen;
  EXPECT_NE(screen.find("\x1b[K"), std::string::npos);

  // Another plan; each piece of its upload waits a while, and Ctrl-C comes
  // while the second one is under way.
  const std::string other = env.Root() + "/diger";
  test::WriteFile(other + "/buyuk.bin", big);
  const std::string id = AddFolderPlan("Diger", other);
  cloud.Cloud().InjectDelay("PUT", "^/upload/drive/v3/files", 3, 1500);
  screen = OnTerminal({"run", "Diger"}, "40%");
  EXPECT_NE(screen.find("\nexit=130\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Durduruluyor"), std::string::npos) << screen;
  EXPECT_NE(screen.find("calvoractl: Gorev calistirilamadi: Islem kullanici tarafindan durduruldu."),
            std::string::npos)
      << screen;
  TBackupPlan plan;
  for (const TBackupPlan& stored : Plans())
    if (stored.ID == id) plan = stored;
  EXPECT_EQ(plan.LastStatus, "Hatalı");
  EXPECT_EQ(plan.LastMessage.rfind("Islem kullanici tarafindan durduruldu.", 0), 0u) << plan.LastMessage;
  TPlanActivitySnapshot activity;
  ASSERT_TRUE(TryGetPlanActivity(AppEnv(), id, activity));
  EXPECT_FALSE(activity.IsRunning);
  EXPECT_EQ(activity.CurrentState, "failed");
  for (const auto& entry : cloud.Google().ListTree())
    EXPECT_FALSE(StartsWith(entry.path, "Deneme Ltd/Diger/buyuk")) << entry.path;
}

TEST_F(CliProgramTest, CloudFilesDownloadsAndRevisionsStayInTheChosenFolder) {
  SignIn();
  AddFolderPlan();
  ASSERT_EQ(Ctl({"run", "Belgeler"}).exit, 0);
  test::WriteFile(source + "/a.txt", "ikinci");
  ASSERT_EQ(Ctl({"run", "Belgeler"}).exit, 0);

  auto r = Ctl({"files", "Belgeler"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out.find("alt\\b.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("a.txt"), std::string::npos);
  EXPECT_NE(r.out.find("2 dosya bulundu."), std::string::npos);

  // Neither the file nor a ".part" of the free name is replaced.
  const std::string dl = env.Root() + "/indirilen";
  test::WriteFile(dl + "/a.txt", "yerel");
  test::WriteFile(dl + "/a_1.txt.part", "baskasinin");
  r = Ctl({"download", "Belgeler", "a.txt", "--to", dl});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dl + "/a.txt"), "yerel");
  EXPECT_EQ(test::ReadFile(dl + "/a_1.txt.part"), "baskasinin");
  EXPECT_EQ(test::ReadFile(dl + "/a_2.txt"), "ikinci");
  EXPECT_NE(r.out.find("Dosya indirildi: " + dl + "/a_2.txt"), std::string::npos) << r.out;

  // A Drive name that climbs out of the folder lands inside it.
  std::string folderId;
  for (const auto& entry : cloud.Google().ListTree())
    if (entry.folder && entry.path == "Deneme Ltd/Belgeler") folderId = entry.id;
  ASSERT_FALSE(folderId.empty());
  cloud.Google().AddFile("../../kacak.txt", folderId, "disari");
  const std::string all = env.Root() + "/hepsi/yeni";
  r = Ctl({"download", "Belgeler", "--all", "--to", all});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out.find("3 dosya basariyla indirildi."), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFile(all + "/b.txt"), "alt dosya");
  EXPECT_EQ(test::ReadFile(all + "/.._.._kacak.txt"), "disari");
  EXPECT_FALSE(FileExists(env.Root() + "/kacak.txt"));
  EXPECT_FALSE(FileExists(env.Root() + "/hepsi/kacak.txt"));
  EXPECT_EQ(Ctl({"download", "Belgeler", "--to", all}).exit, 2);

  TJson revisions;
  ASSERT_TRUE(TryParseJson(Ctl({"revisions", "Belgeler", "a.txt", "--json"}).out, revisions));
  ASSERT_EQ(revisions["Revisions"].size(), 2u);
  EXPECT_EQ(revisions["Revisions"][0]["Number"], 2);
  EXPECT_EQ(revisions["Revisions"][0]["KeepForever"], false);
  r = Ctl({"revisions", "Belgeler", "a.txt"});
  EXPECT_NE(r.out.find("2 surum bulundu. En yenisi en uste yerlestirildi."), std::string::npos) << r.out;

  r = Ctl({"download-revision", "Belgeler", "a.txt", "1", "--to", dl});
  ASSERT_EQ(r.exit, 0) << r.err;
  bool found = false;
  for (const auto& entry : fs::directory_iterator(dl)) {
    const std::string name = entry.path().filename().string();
    if (StartsWith(name, "a_rev_") && EndsWith(name, ".txt")) {
      found = true;
      EXPECT_EQ(test::ReadFile(entry.path().string()), "ilk");
    }
  }
  EXPECT_TRUE(found);

  const std::string oldest = JsonMemberText(revisions["Revisions"][1], "ID");
  const std::string fileId = JsonMemberText(revisions["File"], "ID");
  auto keepForever = [&] {
    const auto file = cloud.Google().File(fileId);
    if (!file) return false;
    for (const auto& revision : file->revisions)
      if (revision.id == oldest) return revision.keepForever;
    return false;
  };
  r = Ctl({"pin", "Belgeler", "a.txt", oldest});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(keepForever());
  ASSERT_EQ(Ctl({"unpin", "Belgeler", "a.txt", "#1"}).exit, 0);
  EXPECT_FALSE(keepForever());
  EXPECT_EQ(Ctl({"pin", "Belgeler", "a.txt", "#9"}).err, "calvoractl: Surum bulunamadi: #9\n");
}

TEST_F(CliProgramTest, SettingsKeepPasswordsOutOfSightAndConnectionTestsReport) {
  auto r = Ctl({"settings", "set", "sql", "--enabled", "--server", "srv\\inst", "--user", "sa", "--backup-dir",
                "/var/yedek", "--password-stdin"},
               "Gizli-1\n");
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "Ayarlar kaydedildi.\n");
  const TMSSQLBackupConfig sql = AppEnv().Config().GetMSSQLBackupConfig();
  EXPECT_TRUE(sql.Enabled);
  EXPECT_EQ(sql.Server, "srv\\inst");
  EXPECT_EQ(sql.Password, "Gizli-1");
  EXPECT_EQ(test::ReadFile(appDir + "/config/config.ini").find("Gizli-1"), std::string::npos);
  r = Ctl({"settings", "show"});
  EXPECT_NE(r.out.find("srv\\inst"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("********"), std::string::npos);
  EXPECT_EQ(r.out.find("Gizli-1"), std::string::npos);

  // The window's reading of the Firebird tab: empty server and user, an
  // unreadable port.
  r = Ctl({"settings", "set", "firebird", "--server", "", "--user", " ", "--port", "abc"});
  ASSERT_EQ(r.exit, 0) << r.err;
  TJson shown;
  ASSERT_TRUE(TryParseJson(Ctl({"settings", "show", "firebird", "--json"}).out, shown));
  EXPECT_EQ(shown["FirebirdBackup"]["Server"], "localhost");
  EXPECT_EQ(shown["FirebirdBackup"]["UserName"], "SYSDBA");
  EXPECT_EQ(shown["FirebirdBackup"]["Port"], 3050);
  EXPECT_FALSE(shown.contains("MSSQLBackup"));

  r = Ctl({"test-connection", "firebird"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Firebird baglanti hatasi: Firebird backup ayarlari etkin degil.\n");
  r = Ctl({"test-connection", "sql"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err.rfind("calvoractl: Baglanti hatasi: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(Ctl({"test-connection", "oracle"}).exit, 2);
}

TEST_F(CliProgramTest, ServiceControlGoesThroughSystemd) {
  auto r = Ctl({"service", "status"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out.find("Servis Durumu:  Kurulu değil"), std::string::npos) << r.out;
  r = Ctl({"service", "install"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.err, "calvoractl: Hata: Servis exe bulunamadı: " + appDir + "/CalvoraService\n");

  test::WriteFile(appDir + "/CalvoraService", test::FakeExecutable("1.0.0.0"));
  const std::pair<std::vector<std::string>, std::string> steps[] = {
      {{"service", "install"}, "Servis kuruldu.\n"},   {{"service", "start"}, "Servis baslatildi.\n"},
      {{"service", "stop"}, "Servis durduruldu.\n"},   {{"service", "uninstall"}, "Servis kaldirildi.\n"},
  };
  for (const auto& [args, message] : steps) {
    r = Ctl(args);
    EXPECT_EQ(r.exit, 0) << args[1] << ": " << r.err;
    EXPECT_EQ(r.out, message);
    if (args[1] == "start") {
      TJson state;
      ASSERT_TRUE(TryParseJson(Ctl({"service", "status", "--json"}).out, state));
      EXPECT_EQ(state["Text"], "Çalışıyor");
    }
  }
  EXPECT_FALSE(FileExists(unitDir + "/CalvoraBackupService.service"));
}

TEST_F(CliProgramTest, RestoreBringsAFolderPlanBackAndReplacesOnlyWhenAsked) {
  SignIn();
  AddFolderPlan();
  ASSERT_EQ(Ctl({"run", "Belgeler"}).exit, 0);
  test::WriteFile(source + "/a.txt", "ikinci");
  ASSERT_EQ(Ctl({"run", "Belgeler"}).exit, 0);

  const std::string target = env.Root() + "/geri";
  auto r = Ctl({"restore", "Belgeler", "--to", target});
  ASSERT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("2 dosya geri yuklendi"), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "ikinci");
  EXPECT_EQ(test::ReadFile(target + "/alt/b.txt"), "alt dosya");

  // Existing files stay until --replace says otherwise.
  test::WriteFile(target + "/a.txt", "yerel");
  r = Ctl({"restore", "Belgeler", "--file", "a.txt", "--to", target});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("(--replace ile uzerine yazilir)\n"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "yerel");
  r = Ctl({"restore", "Belgeler", "--file", "a.txt", "--to", target, "--replace", "--json"});
  ASSERT_EQ(r.exit, 0) << r.err;
  TJson answer;
  ASSERT_TRUE(TryParseJson(r.out, answer)) << r.out;
  EXPECT_EQ(answer["Success"], true);
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "ikinci");

  EXPECT_EQ(Ctl({"restore", "nosuch", "--to", target}).err, "calvoractl: Plan bulunamadı: nosuch\n");
  EXPECT_EQ(Ctl({"restore", "Belgeler"}).exit, 2);
}

}  // namespace
}  // namespace calvora
