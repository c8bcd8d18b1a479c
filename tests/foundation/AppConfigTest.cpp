#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "foundation/uAppConfig.h"
#include "foundation/uSecureString.h"
#include "platform/machine_protect.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora {
namespace {

class AppConfigTest : public ::testing::Test {
 protected:
  TConfigLocations Locations() const {
    TConfigLocations l;
    l.ExecutableDir = root.Path() + "/bin";
    l.ProgramData = root.Path() + "/programdata";
    l.AppData = root.Path() + "/appdata";
    return l;
  }
  std::string DataDir() const { return root.Path() + "/bin/config"; }
  std::string ConfigFile() const { return DataDir() + "/config.ini"; }
  std::string Raw(const char* section, const char* key) const {
    return ReadIniRawValue(test::ReadFile(ConfigFile()), section, key);
  }
  // An envelope made with another machine's key.
  static std::string ForeignEnvelope(const std::string& plain, const test::TTempDir& elsewhere) {
    platform::MachineKeyProtector other(elsewhere.File("other.key"));
    std::string blob, error;
    EXPECT_TRUE(other.Protect(plain, "BrimoraPlanSecret", blob, error)) << error;
    return "dpapi:" + Base64Encode(blob);
  }

  test::TTempDir root;
};

TEST_F(AppConfigTest, DataDirectoryBesideTheExecutable) {
  TAppConfig config(Locations());
  EXPECT_EQ(config.GetConfigDir(), DataDir());
  EXPECT_TRUE(DirectoryExists(DataDir()));
  EXPECT_FALSE(FileExists(ConfigFile()));  // nothing written until a setter runs
  EXPECT_EQ(config.GetClientID(), TDeploymentSettings().GoogleClientID);
}

TEST_F(AppConfigTest, FallsBackWhenTheExecutableFolderCannotHoldTheDirectory) {
  test::WriteFile(root.File("file"), "x");  // a file where a folder would have to be
  TConfigLocations l = Locations();
  l.ExecutableDir = root.File("file") + "/bin";
  EXPECT_EQ(TAppConfig(l).GetConfigDir(), root.Path() + "/programdata/Calvora");

  l.ProgramData = "";
  EXPECT_EQ(TAppConfig(l).GetConfigDir(), root.Path() + "/appdata/Calvora");
  EXPECT_TRUE(DirectoryExists(root.Path() + "/appdata/Calvora"));
}

TEST_F(AppConfigTest, APackagedProgramFolderGetsNoDataDirectory) {
  test::WriteFile(root.File("bin/package-managed"), "");
  EXPECT_TRUE(IsPackageManagedProgramDir(root.Path() + "/bin"));
  TAppConfig config(Locations());
  EXPECT_EQ(config.GetConfigDir(), root.Path() + "/programdata/Calvora");
  EXPECT_FALSE(DirectoryExists(DataDir()));

  // A folder named like the marker is no marker.
  test::TTempDir other;
  ForceDirectories(other.File("package-managed"));
  EXPECT_FALSE(IsPackageManagedProgramDir(other.Path()));
  EXPECT_FALSE(IsPackageManagedProgramDir(""));
}

TEST_F(AppConfigTest, LegacyFilesAreCopiedOnlyWhereMissing) {
  const std::string legacy = root.Path() + "/appdata/Calvora";
  test::WriteFile(legacy + "/config.ini", "[Google]\r\nRootFolderID=legacy-root\r\n");
  test::WriteFile(legacy + "/backupplans.json", "legacy plans");
  test::WriteFile(legacy + "/log.old.txt", "old log");
  test::WriteFile(DataDir() + "/backupplans.json", "current plans");

  TAppConfig config(Locations());
  EXPECT_EQ(config.GetRootFolderID(), "legacy-root");
  EXPECT_EQ(test::ReadFile(DataDir() + "/backupplans.json"), "current plans");
  EXPECT_EQ(test::ReadFile(DataDir() + "/log.old.txt"), "old log");
  EXPECT_EQ(test::ReadFile(legacy + "/backupplans.json"), "legacy plans");  // the legacy file stays
  EXPECT_FALSE(FileExists(DataDir() + "/projects.json"));
}

TEST_F(AppConfigTest, AFailingLegacyCopyAbortsStartUp) {
  test::WriteFile(root.Path() + "/appdata/Calvora/planactivity.json", "x");
  std::filesystem::create_directories(DataDir() + "/planactivity.json");  // cannot be replaced by a file
  EXPECT_THROW(TAppConfig config(Locations()), EAppError);
}

TEST_F(AppConfigTest, StartUpProtectsPlainValuesAndRenewsEnvelopes) {
  test::TTempDir elsewhere;
  const std::string foreign = ForeignEnvelope("secret", elsewhere);
  const std::string mine = ProtectSecret("sa");
  test::WriteFile(ConfigFile(),
                  "[MSSQLBackup]\r\nPassword=p@ss word \r\nUserName=" + mine + "\r\nServer=" + foreign +
                      "\r\nBackupOutputDir=   \r\nDatabase=OldDb\r\n[FirebirdBackup]\r\nPort=3051\r\n");
  TAppConfig config(Locations());

  EXPECT_TRUE(IsProtectedSecret(Raw("MSSQLBackup", "Password")));
  EXPECT_NE(Raw("MSSQLBackup", "UserName"), mine);  // a fresh envelope
  EXPECT_EQ(Raw("MSSQLBackup", "Server"), foreign);  // cannot be opened: left alone
  EXPECT_EQ(Raw("MSSQLBackup", "BackupOutputDir"), "   ");
  EXPECT_EQ(Raw("MSSQLBackup", "Database"), "OldDb");  // not one of ours
  EXPECT_TRUE(IsProtectedSecret(Raw("FirebirdBackup", "Port")));

  TMSSQLBackupConfig sql = config.GetMSSQLBackupConfig();
  EXPECT_EQ(sql.Password, "p@ss word ");  // untrimmed
  EXPECT_EQ(sql.UserName, "sa");
  EXPECT_EQ(sql.Server, "");  // unreadable envelope: the default
  EXPECT_EQ(config.GetFirebirdBackupConfig().Port, 3051);

  // Every start rewrites the values with new envelopes.
  const std::string before = Raw("MSSQLBackup", "Password");
  TAppConfig again(Locations());
  EXPECT_NE(Raw("MSSQLBackup", "Password"), before);
  EXPECT_EQ(again.GetMSSQLBackupConfig().Password, "p@ss word ");
}

TEST_F(AppConfigTest, GettersFallBackToDefaults) {
  test::WriteFile(ConfigFile(),
                  "[Google]\r\nAuthPort=abc\r\nClientSecret=dpapi:\r\n[FirebirdBackup]\r\nPort=\r\n"
                  "GBackPath=  /opt/fb/gbak  \r\n");
  TAppConfig config(Locations());
  EXPECT_EQ(config.GetAuthPort(), 8080);
  EXPECT_EQ(config.GetClientSecret(), TDeploymentSettings().GoogleClientSecret);
  EXPECT_EQ(config.GetRootFolderID(), "");
  TFirebirdBackupConfig fb = config.GetFirebirdBackupConfig();
  EXPECT_FALSE(fb.Enabled);
  EXPECT_EQ(fb.Server, "localhost");
  EXPECT_EQ(fb.Port, 3050);
  EXPECT_EQ(fb.UserName, "SYSDBA");
  EXPECT_EQ(fb.GBackPath, "/opt/fb/gbak");
}

TEST_F(AppConfigTest, BooleansReadTrueOnlyForTrueOrOne) {
  TAppConfig config(Locations());
  struct Case {
    const char* stored;
    bool want;
  } cases[] = {{"TRUE", true}, {"True", true}, {"1", true}, {"yes", false}, {"0", false}, {"", false}};
  for (const auto& c : cases) {
    std::string text = SetIniValue("", "MSSQLBackup", "Enabled", c.stored);
    test::WriteFile(ConfigFile(), text);
    EXPECT_EQ(config.GetMSSQLBackupConfig().Enabled, c.want) << c.stored;
  }
}

TEST_F(AppConfigTest, SettersWriteThroughProtectedAndInOrder) {
  TAppConfig config(Locations());
  config.SetClientID("my-client");
  config.SetAuthPort(9090);
  TFirebirdBackupConfig fb;
  fb.Enabled = true;
  fb.Server = "db.local";
  fb.Port = 3051;
  fb.UserName = "SYSDBA";
  fb.Password = "Şifre";
  fb.GBackPath = "";
  fb.BackupOutputDir = "/var/backups";
  config.SetFirebirdBackupConfig(fb);

  const std::string file = test::ReadFile(ConfigFile());
  EXPECT_EQ(file.find("my-client"), std::string::npos);
  EXPECT_EQ(file.find("db.local"), std::string::npos);
  for (unsigned char c : file) EXPECT_LT(c, 128);  // envelopes only: plain ASCII
  EXPECT_EQ(Raw("FirebirdBackup", "GBackPath"), "");
  const char* order[] = {"Enabled=", "Server=", "Port=", "UserName=", "Password=", "GBackPath=", "BackupOutputDir="};
  size_t at = file.find("[FirebirdBackup]");
  for (const char* key : order) {
    size_t next = file.find(std::string("\r\n") + key, at);
    ASSERT_NE(next, std::string::npos) << key;
    at = next + 1;
  }

  TAppConfig reopened(Locations());
  EXPECT_EQ(reopened.GetClientID(), "my-client");
  EXPECT_EQ(reopened.GetAuthPort(), 9090);
  TFirebirdBackupConfig back = reopened.GetFirebirdBackupConfig();
  EXPECT_TRUE(back.Enabled);
  EXPECT_EQ(back.Server, "db.local");
  EXPECT_EQ(back.Password, "Şifre");
  EXPECT_EQ(back.BackupOutputDir, "/var/backups");
}

TEST_F(AppConfigTest, TokenCacheTakesOverTheOlderName) {
  TAppConfig config(Locations());
  test::WriteFile(DataDir() + "/google_tokens.dat", "old");
  EXPECT_EQ(config.GetGoogleTokenCachePath(), DataDir() + "/syc.dat");
  EXPECT_EQ(test::ReadFile(DataDir() + "/syc.dat"), "old");
  EXPECT_FALSE(FileExists(DataDir() + "/google_tokens.dat"));

  test::WriteFile(DataDir() + "/google_tokens.dat", "older");
  EXPECT_EQ(config.GetGoogleTokenCachePath(), DataDir() + "/syc.dat");
  EXPECT_EQ(test::ReadFile(DataDir() + "/syc.dat"), "old");
  EXPECT_TRUE(FileExists(DataDir() + "/google_tokens.dat"));
}

TEST_F(AppConfigTest, AnUnwritableFileFailsTheSetter) {
  TAppConfig config(Locations());
  std::filesystem::create_directories(ConfigFile());  // a folder where the file should be
  EXPECT_THROW(config.SetRootFolderID("x"), EAppError);
}


// Saves cut off by a crash leave "<file>.tmp-<pid>-<n>" behind; the next
// start removes those of processes that no longer run, and nothing else.
TEST_F(AppConfigTest, StartRemovesTemporaryFilesOfEndedWriters) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string gone = std::to_string(ended);
  const std::string alive = std::to_string(getpid());
  ForceDirectories(DataDir());
  const std::vector<std::pair<std::string, bool>> files = {
      {"backupplans.json.tmp-" + gone + "-123456", false},
      {"config.ini.tmp-" + gone + "-7", false},
      {"planactivity.json.tmp-" + alive + "-99", true},   // a save in progress
      {"notes.tmp-" + gone, true},                        // not a name the writers make
      {"backupplans.json.tmp-" + gone + "-12a", true},
      {"backupplans.json", true},
  };
  for (const auto& [name, stays] : files) test::WriteFile(DataDir() + "/" + name, "x");
  TAppConfig config(Locations());
  for (const auto& [name, stays] : files) EXPECT_EQ(FileExists(DataDir() + "/" + name), stays) << name;
}

}  // namespace
}  // namespace calvora
