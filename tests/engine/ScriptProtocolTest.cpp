// The engine's side of the script protocol, against a stand-in script.
#include "EngineTestSupport.h"

#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

namespace calvora::test {
namespace {

using ::testing::HasSubstr;

class ScriptProtocolTest : public EngineTest {
 protected:
  ScriptProtocolTest() { InstallFakeScript(ProgramDir(), "BackupDatabase.py"); }

  std::vector<std::string> LeftInTemp(const char* folder = "CalvoraBackup") {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Env().TempDir() + "/" + folder, ec))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

TEST_F(ScriptProtocolTest, ResultsAreReadByTheProtocolRules) {
  struct Case {
    const char* step;
    bool throws;
    bool success;
    const char* message;
  };
  const Case cases[] = {
      {R"({"result": {"success": "TRUE"}})", false, true, ""},
      {R"({"result": {"success": true, "message": "tamam", "backupFilePath": null}})", false, true, "tamam"},
      {R"({"result": {"success": false}})", false, false, "Backup script basarisiz oldu."},
      {R"({"result": {"success": "false", "message": "Sunucuya baglanilamadi"}})", false, false,
       "Sunucuya baglanilamadi"},
      {R"({"raw": "bu json degil"})", true, false, "Backup script sonucu okunamadi."},
      {R"({"noResult": true, "exit": 3})", true, false, "Backup script sonucu uretmedi. Cikis kodu: 3"},
      // A failing exit code with a valid result file is not an error.
      {R"({"result": {"success": true, "message": "uyari ile"}, "exit": 2})", false, true, "uyari ile"},
  };
  auto engine = MakeEngine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    WriteScenario(ProgramDir(), std::string(R"({"test": )") + c.step + "}");
    std::string message = "x", path = "x";
    if (c.throws) {
      try {
        engine->RunSqlScript("test", TJson::object(), message, path);
        ADD_FAILURE() << "no error";
      } catch (const EAppError& e) {
        EXPECT_EQ(e.what(), std::string(c.message));
      }
    } else {
      EXPECT_EQ(engine->RunSqlScript("test", TJson::object(), message, path), c.success);
      EXPECT_EQ(message, c.message);
      EXPECT_EQ(path, "");
    }
    EXPECT_THAT(LeftInTemp(), ::testing::IsEmpty());
  }
}

TEST_F(ScriptProtocolTest, ResultThatIsNotAnObjectIsAConversionError) {
  WriteScenario(ProgramDir(), R"({"test": {"raw": "[1, 2]"}})");
  auto engine = MakeEngine();
  std::string message, path;
  EXPECT_THROW(engine->RunSqlScript("test", TJson::object(), message, path), EConvertError);
  EXPECT_THAT(LeftInTemp(), ::testing::IsEmpty());
}

TEST_F(ScriptProtocolTest, ConfigAndPayloadReachTheScriptPrivatelyAndInOrder) {
  WriteScenario(ProgramDir(), R"({"backup": {"result": {"success": true, "extra": "değer"}}})");
  auto engine = MakeEngine();
  TJson payload = TJson::object();
  payload["databaseName"] = "Muhasebe";
  std::string message, path;
  ASSERT_TRUE(engine->RunSqlScript("backup", payload, message, path));

  auto calls = ScriptCalls(ProgramDir());
  ASSERT_EQ(calls.size(), 1u);
  TJson call;
  ASSERT_TRUE(TryParseJson(calls[0], call));
  EXPECT_EQ(call["mode"], "backup");
  EXPECT_EQ(call["configMode"], "0o600");  // the file carries the database password
  EXPECT_EQ(JsonToText(call["config"]),
            R"({"server":"SQL01","userName":"sa","password":"Sql-Secret-1","backupOutputDir":""})");
  EXPECT_EQ(call["payload"]["databaseName"], "Muhasebe");
  EXPECT_EQ(engine->LastScriptString("extra"), "değer");

  // The interpreter gets the switches of the protocol, one argument each.
  auto runs = Runner().RequestsOf("python");
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0].arguments.size(), 9u);
  EXPECT_EQ(runs[0].arguments[0], ProgramDir() + "/sql/BackupDatabase.py");
  EXPECT_EQ(runs[0].arguments[1], "-Mode");
  EXPECT_EQ(runs[0].arguments[2], "backup");
  EXPECT_EQ(runs[0].arguments[3], "-ConfigPath");
  EXPECT_THAT(runs[0].arguments[4], HasSubstr("/CalvoraBackup/config_"));
  EXPECT_EQ(runs[0].arguments[5], "-PayloadPath");
  EXPECT_EQ(runs[0].arguments[7], "-ResultPath");
  EXPECT_THAT(LeftInTemp(), ::testing::IsEmpty());
}

TEST_F(ScriptProtocolTest, MissingScriptAndInterpreterFailWithTheirTexts) {
  auto engine = MakeEngine();
  std::string message, path;
  try {
    engine->RunFirebirdScript("test", TJson::object(), message, path);
    ADD_FAILURE() << "no error";
  } catch (const EAppError& e) {
    EXPECT_EQ(std::string(e.what()), "Firebird backup script dosyasi bulunamadi: " + ProgramDir() + "/sql/BackupFirebird.py");
  }

  Runner().FailStartOf("python");
  try {
    engine->RunSqlScript("test", TJson::object(), message, path);
    ADD_FAILURE() << "no error";
  } catch (const EAppError& e) {
    EXPECT_EQ(std::string(e.what()), "PowerShell baslatilamadi: No such file or directory");
  }
  EXPECT_THAT(LeftInTemp(), ::testing::IsEmpty());
}


// Another account may have been first at a name in a shared temporary
// folder: the run stops with the folder named, writes nothing there and
// never starts the script.
TEST_F(ScriptProtocolTest, PlantedTemporaryFoldersStopTheRunUnread) {
  namespace fs = std::filesystem;
  InstallFakeScript(ProgramDir(), "BackupFirebird.py");
  WriteScenario(ProgramDir(), R"({"backup": {"result": {"success": true}}})");
  const std::string attacker = testEnv->Root() + "/attacker";
  const std::string folder = Env().TempDir() + "/CalvoraBackup";
  struct Plant {
    const char* what;
    std::function<void()> make;
  };
  const Plant plants[] = {
      {"a link to another folder", [&] { fs::create_directory_symlink(attacker, folder); }},
      {"a folder anyone may write",
       [&] {
         fs::create_directory(folder);
         fs::permissions(folder, fs::perms::all);
       }},
      {"another user's folder",
       [&] {
         fs::create_directory(folder);
         if (chown(folder.c_str(), 65534, 65534) != 0) fs::permissions(folder, fs::perms::all);
       }},
  };
  auto engine = MakeEngine();
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.what);
    fs::create_directories(attacker);
    fs::permissions(attacker, fs::perms::all);
    plant.make();
    std::string message, path;
    try {
      engine->RunFirebirdScript("backup", TJson::object(), message, path);
      ADD_FAILURE() << "no error";
    } catch (const EAppError& e) {
      EXPECT_THAT(e.what(), HasSubstr("Gecici klasor guvenli degil: " + folder));
    }
    EXPECT_TRUE(fs::is_empty(attacker));
    EXPECT_TRUE(Runner().RequestsOf("python").empty());
    std::error_code ec;
    fs::remove(folder, ec);
    fs::remove_all(folder, ec);
  }

  // The temporary folder itself open to everyone: nothing is made in it.
  fs::permissions(Env().TempDir(), fs::perms::all);
  std::string message, path;
  EXPECT_THROW(engine->RunFirebirdScript("backup", TJson::object(), message, path), EFileError);
  EXPECT_FALSE(fs::exists(folder));
  fs::permissions(Env().TempDir(), fs::perms::owner_all);
  EXPECT_TRUE(engine->RunFirebirdScript("backup", TJson::object(), message, path)) << message;
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

}  // namespace
}  // namespace calvora::test
