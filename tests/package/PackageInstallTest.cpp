// The Debian packages, built from this build tree with cpack and installed
// by dpkg into a throw-away root (--root with the maintainer scripts run
// against it through DPKG_ROOT), so the machine itself is never touched.
// The tests run in order on the one installation: the last one purges it.
#include "../service/ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "plans/uBackupPlans.h"
#include "platform/process.h"
#include "service/uServiceManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using devcloud::DatabaseJson;

constexpr const char kSystemPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr const char kProgramDir[] = "/usr/lib/calvora";
constexpr const char kUnitFile[] = "/lib/systemd/system/CalvoraBackupService.service";

platform::ProcessResult RunCommand(const std::string& program, const std::vector<std::string>& arguments,
                                   std::vector<std::pair<std::string, std::string>> environment = {}) {
  platform::ProcessRequest request;
  request.program = program;
  request.arguments = arguments;
  request.captureOutput = true;
  request.environment = std::move(environment);
  return platform::SystemProcessRunner().Run(request);
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Points this process's secrets at the installed machine key while it lives.
class TInstalledKey {
 public:
  explicit TInstalledKey(const std::string& keyFile) {
    if (const char* value = std::getenv("CALVORA_MACHINE_KEY_FILE")) saved_ = value;
    setenv("CALVORA_MACHINE_KEY_FILE", keyFile.c_str(), 1);
  }
  ~TInstalledKey() { setenv("CALVORA_MACHINE_KEY_FILE", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

class PackageInstallTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    if (geteuid() != 0) {
      skipReason = "the maintainer scripts set owners: runs as root only";
      return;
    }
    for (const char* tool : {"dpkg", "dpkg-deb", "dpkg-shlibdeps", "groupadd"})
      if (platform::FindOnPath(tool).empty()) {
        skipReason = std::string(tool) + " is not installed";
        return;
      }
    work = std::make_unique<test::TTempDir>();
    root = work->File("root");
    BuildPackages();
    if (setupError.empty()) PrepareRoot();
    if (setupError.empty()) setupError = Dpkg({"-i", servicePackage, desktopPackage});
  }
  static void TearDownTestSuite() { work.reset(); }

 protected:
  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    ASSERT_TRUE(setupError.empty()) << setupError;
  }

  static std::string InRoot(const std::string& path) { return root + path; }

  // Empty on success, else the command and what it said.
  static std::string Dpkg(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--root=" + root, "--force-script-chrootless", "--force-depends",
                                    "--log=" + work->File("dpkg.log")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto result = RunCommand("dpkg", all, {{"PATH", kSystemPath}});
    if (result.exitCode == 0) return std::string();
    return "dpkg " + Join(arguments, " ") + " failed:\n" + result.output;
  }

  static std::string Field(const std::string& package, const std::string& field) {
    return Trim(RunCommand("dpkg-deb", {"-f", package, field}).output);
  }

  static gid_t CalvoraGroupId() {
    for (const std::string& line : Split(test::ReadFile(InRoot("/etc/group")), '\n')) {
      const auto parts = Split(line, ':');
      if (parts.size() >= 3 && parts[0] == "calvora") return static_cast<gid_t>(std::stoul(parts[2]));
    }
    return 0;
  }

  static std::string ServiceProgram() { return InRoot(std::string(kProgramDir) + "/CalvoraService"); }

  static std::unique_ptr<test::TTempDir> work;
  static std::string root, servicePackage, desktopPackage, skipReason, setupError;

 private:
  static void BuildPackages() {
    const std::string out = work->File("packages");
    const auto result = RunCommand(
        CALVORA_CPACK, {"--config", CALVORA_BINARY_DIR "/CPackConfig.cmake", "-B", out}, {{"PATH", kSystemPath}});
    if (result.exitCode != 0) {
      setupError = "cpack failed:\n" + result.output;
      return;
    }
    const std::string arch = Trim(RunCommand("dpkg", {"--print-architecture"}).output);
    servicePackage = out + "/calvora_" CALVORA_VERSION "_" + arch + ".deb";
    desktopPackage = out + "/calvora-desktop_" CALVORA_VERSION "_" + arch + ".deb";
    for (const auto& package : {servicePackage, desktopPackage})
      if (!FileExists(package)) setupError = "cpack made no " + package + ":\n" + result.output;
  }

  // An empty system: dpkg's database and the account files groupadd edits.
  static void PrepareRoot() {
    for (const char* dir : {"/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/etc"})
      fs::create_directories(InRoot(dir));
    test::WriteFile(InRoot("/var/lib/dpkg/status"), "");
    test::WriteFile(InRoot("/var/lib/dpkg/available"), "");
    test::WriteFile(InRoot("/etc/passwd"), "root:x:0:0:root:/root:/bin/sh\n");
    test::WriteFile(InRoot("/etc/shadow"), "root:*:19000:0:99999:7:::\n");
    test::WriteFile(InRoot("/etc/group"), "root:x:0:\n");
    test::WriteFile(InRoot("/etc/gshadow"), "root:*::\n");
  }
};

std::unique_ptr<test::TTempDir> PackageInstallTest::work;
std::string PackageInstallTest::root, PackageInstallTest::servicePackage, PackageInstallTest::desktopPackage,
    PackageInstallTest::skipReason, PackageInstallTest::setupError;

TEST_F(PackageInstallTest, PackagesCarryTheProgramsVersionAndServersGetNoQt) {
  EXPECT_EQ(Field(servicePackage, "Package"), "calvora");
  EXPECT_EQ(Field(servicePackage, "Version"), CALVORA_VERSION);
  EXPECT_EQ(Field(desktopPackage, "Version"), CALVORA_VERSION);

  // The libraries come from dpkg-shlibdeps, the tools the code starts are named.
  const std::string depends = Field(servicePackage, "Depends");
  for (const char* dependency : {"libc6", "libcurl4", "libssl3", "python3", "7zip", "passwd"})
    EXPECT_NE(depends.find(dependency), std::string::npos) << dependency << " missing in " << depends;
  EXPECT_EQ(depends.find("qt"), std::string::npos) << depends;
  EXPECT_TRUE(StartsWith(Field(desktopPackage, "Depends"), "calvora (= " CALVORA_VERSION ")"))
      << Field(desktopPackage, "Depends");

  // Nothing under /etc or /var is shipped: postinst makes and owns those.
  const std::string listing = RunCommand("dpkg-deb", {"-c", servicePackage}).output;
  EXPECT_EQ(listing.find(" ./etc/"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(" ./var/"), std::string::npos) << listing;
}

TEST_F(PackageInstallTest, LintianReportsNoErrors) {
  if (platform::FindOnPath("lintian").empty()) GTEST_SKIP() << "lintian is not installed";
  const auto result =
      RunCommand("lintian", {"--fail-on", "error", "--tag-display-limit", "0", servicePackage, desktopPackage},
                 {{"PATH", kSystemPath}});
  std::cout << "lintian:\n" << result.output << std::endl;
  EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_F(PackageInstallTest, LayoutKeyAndDataDirectoryFollowDebiansConventions) {
  const std::string programDir = InRoot(kProgramDir);
  EXPECT_EQ(StatOf(ServiceProgram()).st_mode & 07777, 0755u);
  EXPECT_TRUE(FileExists(programDir + "/Calvora"));
  EXPECT_TRUE(FileExists(programDir + "/CalvoraRestore"));  // where "Geri Yükle" looks
  for (const char* script : {"BackupDatabase.py", "BackupFirebird.py", "CopyLockedFile.py", "ScriptProtocol.py",
                             "SendBackupReport.py"})
    EXPECT_TRUE(FileExists(programDir + "/sql/" + script)) << script;
  EXPECT_TRUE(IsPackageManagedProgramDir(programDir));
#if CALVORA_HAS_CTL
  EXPECT_EQ(fs::read_symlink(InRoot("/usr/bin/calvoractl")), "../lib/calvora/calvoractl");
  EXPECT_TRUE(FileExists(programDir + "/calvoractl"));
#endif
#if CALVORA_HAS_MAN_PAGE
  EXPECT_TRUE(FileExists(InRoot("/usr/share/man/man1/calvoractl.1.gz")));
#endif

  // The unit is the one the service control writes, and it is enabled.
  EXPECT_EQ(test::ReadFile(InRoot(kUnitFile)),
            BuildServiceUnitText(std::string(kProgramDir) + "/CalvoraService", kBackupServiceDisplayName));
  EXPECT_EQ(fs::read_symlink(InRoot("/etc/systemd/system/multi-user.target.wants/CalvoraBackupService.service")),
            kUnitFile);

  // A system group; the key and the data directory belong to it.
  const gid_t group = CalvoraGroupId();
  ASSERT_NE(group, 0u);
  EXPECT_LT(group, 1000u);
  const auto key = StatOf(InRoot("/etc/calvora/machine.key"));
  EXPECT_TRUE(S_ISREG(key.st_mode));
  EXPECT_EQ(key.st_mode & 07777, 0640u);
  EXPECT_EQ(key.st_uid, 0u);
  EXPECT_EQ(key.st_gid, group);
  EXPECT_EQ(key.st_size, 32);
  const auto data = StatOf(InRoot("/var/lib/Calvora"));
  EXPECT_TRUE(S_ISDIR(data.st_mode));
  EXPECT_EQ(data.st_mode & 07777, 02775u);
  EXPECT_EQ(data.st_uid, 0u);
  EXPECT_EQ(data.st_gid, group);
}

TEST_F(PackageInstallTest, InstalledProgramsTellTheirVersionAndLeaveNothingBehind) {
  const auto service = RunCommand(ServiceProgram(), {"--version"});
  EXPECT_EQ(service.exitCode, 0);
  EXPECT_EQ(Trim(service.output), CALVORA_VERSION);
#if CALVORA_HAS_CTL
  const auto ctl = RunCommand(InRoot("/usr/bin/calvoractl"), {"--version"});
  EXPECT_EQ(ctl.exitCode, 0) << ctl.output;
  EXPECT_NE(ctl.output.find(CALVORA_VERSION), std::string::npos) << ctl.output;
#endif
  EXPECT_FALSE(fs::exists(InRoot(kProgramDir) + "/config"));
  EXPECT_TRUE(fs::is_empty(InRoot("/var/lib/Calvora")));
}

// The service run from the installed program folder: data in
// /var/lib/Calvora, each line also in the journal, nothing beside the
// executables.
TEST_F(PackageInstallTest, ServiceRunsAPlanFromTheInstalledLayout) {
  const std::string programDir = InRoot(kProgramDir);
  const std::string dataDir = InRoot("/var/lib/Calvora");
  TInstalledKey key(InRoot("/etc/calvora/machine.key"));
  test::TServiceCloud cloud;
  const TDeploymentSettings deployment = cloud.Deployment();
  // The one file the test puts beside the executables; purge looks for no
  // others there.
  SaveDeploymentSettings(programDir + "/deployment.ini", deployment);
  auto& directory = cloud.Cloud().Account();
  directory.Write("Lisanslar/musteri",
                  DatabaseJson{{"LoginName", "musteri"}, {"Sifre", "pw"}, {"Musteri", "Deneme Ltd"}});
  directory.Write("GoogleDriveAccounts/merkez", DatabaseJson{{"DisplayName", "Merkez Drive"},
                                                             {"AccessToken", cloud.AccessToken()},
                                                             {"RefreshToken", cloud.RefreshToken()}});
  directory.Write("GoogleDriveAccountLinks/l1",
                  DatabaseJson{{"AccountLoginName", "musteri"}, {"GoogleAccountID", "merkez"}, {"IsDefault", true}});

  // What calvoractl or the desktop would have left: the sign-in and a plan.
  TConfigLocations locations;
  locations.ExecutableDir = programDir;
  locations.ProgramData = InRoot("/var/lib");
  locations.AppData = work->File("appdata");
  TAppConfig config(locations);
  ASSERT_EQ(config.GetConfigDir(), dataDir);
  TEnv env(config, deployment, SystemClock(), platform::SystemProcessRunner(), programDir, work->File("tmp"));
  SaveSignIn(env, TAccountCredentials{"musteri", "pw", "Deneme Ltd"});
  const std::string source = work->File("kaynak");
  for (int i = 0; i < 3; ++i) test::WriteFile(source + "/dosya" + std::to_string(i) + ".txt", "icerik");
  TBackupPlan plan;
  plan.ID = TBackupPlanStore::GeneratePlanID();
  plan.Name = "Belgeler";
  plan.BackupType = "folder";
  plan.SourceFolder = source;
  plan.DriveSubFolder = "Belgeler";
  plan.Enabled = true;
  plan.AutoRun = true;
  plan.RunOnServiceStart = true;
  TBackupPlanStore(env).SavePlans({plan});

  // Standard error is a file that JOURNAL_STREAM names, as systemd does it.
  const std::string journal = work->File("journal.txt");
  const auto run = RunCommand("sh",
                              {"-c",
                               "exec 2>\"$1\"; JOURNAL_STREAM=$(stat -c %d:%i \"$1\"); export JOURNAL_STREAM; "
                               "exec \"$2\" --run-once",
                               "sh", journal, ServiceProgram()},
                              {{"CALVORA_MACHINE_KEY_FILE", InRoot("/etc/calvora/machine.key")},
                               {"PROGRAMDATA", InRoot("/var/lib")},
                               {"APPDATA", work->File("appdata")},
                               {"TMPDIR", work->File("tmp")}});
  ASSERT_EQ(run.exitCode, 0) << run.output << test::ReadFile(journal);

  const auto stored = TBackupPlanStore(env).LoadPlans();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].LastStatus, "Başarılı") << stored[0].LastMessage;
  int uploaded = 0;
  for (const auto& entry : cloud.Google().ListTree())
    uploaded += !entry.folder && StartsWith(entry.path, "Deneme Ltd/Belgeler/");
  EXPECT_EQ(uploaded, 3);

  const std::string started = "Windows service basladi (v" CALVORA_VERSION ")";
  EXPECT_NE(test::ReadFile(dataDir + "/log.txt").find(started + "\r\n"), std::string::npos);
  const std::string lines = test::ReadFile(journal);
  EXPECT_EQ(lines.find("<6>[INFO ] " + started + "\n"), 0u) << lines;
  EXPECT_NE(lines.find("<6>[INFO ] Windows service durduruluyor\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.find('\r'), std::string::npos);

  // Files the service made are the group's, through the setgid directory.
  EXPECT_EQ(StatOf(dataDir + "/log.txt").st_gid, CalvoraGroupId());
  EXPECT_FALSE(fs::exists(programDir + "/config"));
}

TEST_F(PackageInstallTest, ReinstallKeepsTheKeyAndTheData) {
  const std::string key = test::ReadFile(InRoot("/etc/calvora/machine.key"));
  test::WriteFile(InRoot("/var/lib/Calvora/backupplans.json"), "plans");
  ASSERT_EQ(Dpkg({"-i", servicePackage, desktopPackage}), "");
  EXPECT_EQ(test::ReadFile(InRoot("/etc/calvora/machine.key")), key);
  EXPECT_EQ(test::ReadFile(InRoot("/var/lib/Calvora/backupplans.json")), "plans");
  EXPECT_EQ(StatOf(InRoot("/var/lib/Calvora")).st_mode & 07777, 02775u);
}

// Removal keeps the settings and the data; purge takes what the package and
// the programs made, and keeps the group and a customer's folder.
TEST_F(PackageInstallTest, RemoveKeepsTheDataAndPurgeLeavesNothingBehind) {
  DeleteFileIfExists(InRoot(kProgramDir) + "/deployment.ini");
  ASSERT_EQ(Dpkg({"--remove", "calvora-desktop", "calvora"}), "");
  EXPECT_FALSE(fs::exists(InRoot(kProgramDir)));
  EXPECT_FALSE(fs::exists(InRoot(kUnitFile)));
  EXPECT_TRUE(FileExists(InRoot("/etc/calvora/machine.key")));
  EXPECT_TRUE(fs::is_directory(InRoot("/var/lib/Calvora")));

  test::WriteFile(InRoot("/var/lib/Calvora/log.txt.tmp-12-345"), "an interrupted rewrite");
  ASSERT_EQ(Dpkg({"--purge", "calvora-desktop", "calvora"}), "");
  EXPECT_FALSE(fs::exists(InRoot("/etc/calvora")));
  EXPECT_FALSE(fs::exists(InRoot("/var/lib/Calvora")));
  EXPECT_NE(CalvoraGroupId(), 0u);

  // Only dpkg's own records and the account files remain; empty folders
  // of the system's hierarchy may stay.
  const std::set<std::string> systemFiles = {"/etc/passwd", "/etc/shadow",  "/etc/group",  "/etc/gshadow",
                                             "/etc/passwd-", "/etc/shadow-", "/etc/group-", "/etc/gshadow-"};
  std::vector<std::string> leftovers;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string().substr(root.size());
    if (entry.is_directory() && !entry.is_symlink()) continue;
    if (StartsWith(path, "/var/lib/dpkg/") || systemFiles.count(path)) continue;
    leftovers.push_back(path);
  }
  EXPECT_TRUE(leftovers.empty()) << Join(leftovers, "\n");
}

TEST_F(PackageInstallTest, PurgeLeavesAFolderTheCustomerPutInTheDataDirectory) {
  ASSERT_EQ(Dpkg({"-i", servicePackage}), "");
  test::WriteFile(InRoot("/var/lib/Calvora/yedekler/gunluk.rar"), "a customer's backup");
  test::WriteFile(InRoot("/var/lib/Calvora/log.txt"), "log");
  ASSERT_EQ(Dpkg({"--purge", "calvora"}), "");
  EXPECT_EQ(test::ReadFile(InRoot("/var/lib/Calvora/yedekler/gunluk.rar")), "a customer's backup");
  EXPECT_FALSE(fs::exists(InRoot("/var/lib/Calvora/log.txt")));
}

}  // namespace
}  // namespace calvora
