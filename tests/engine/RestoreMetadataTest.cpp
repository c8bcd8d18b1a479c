// Restore information on Drive and in the data folder, and the way back.
#include "EngineTestSupport.h"

#include "engine/uRestoreMetadata.h"
#include "foundation/TextFile.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace calvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class RestoreMetadataTest : public EngineTest {
 protected:
  std::string LocalMeta(const std::string& name) { return testEnv->DataDir() + "/restoremeta/" + name; }

  std::string RestoreFolder() {
    for (const auto& file : Google().Children(AccountFolderId()))
      if (file.name == "restoremeta") return file.id;
    return std::string();
  }

  std::string DriveText(const std::string& name) {
    for (const auto& file : Google().Children(RestoreFolder()))
      if (file.name == name) return ReadFile(Google().ContentPath(file.id));
    return std::string();
  }
};

TEST(RestoreMetadataJson, RoundTripAndTolerantReading) {
  TRestoreMetadata m;
  m.PlanID = "{P}";
  m.PlanName = "Günlük";
  m.BackupType = "sql";
  m.DatabaseName = "Muhasebe";
  m.BackupFileName = "Muhasebe_.rar";
  m.RarEncrypted = true;
  m.UseCompression = true;
  m.DbFiles = {{"Muhasebe", "D:\\Data\\Muhasebe.mdf", "D"}, {"Muhasebe_log", "D:\\Data\\Muhasebe.ldf", "L"}};
  m.CreatedAt = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  m.ComputerName = "SUNUCU";
  const std::string text = JsonToText(RestoreMetadataToJson(m));
  EXPECT_EQ(text,
            R"({"PlanID":"{P}","PlanName":"G\u00fcnl\u00fck","BackupType":"sql","DatabaseName":"Muhasebe",)"
            R"("SourceFolder":"","DriveSubFolder":"","Server":"","BackupFileName":"Muhasebe_.rar",)"
            R"("RarEncrypted":true,"UseCompression":true,"CreatedAt":"2024-03-05 10:00:00","ComputerName":"SUNUCU",)"
            R"("DbFiles":[{"LogicalName":"Muhasebe","PhysicalName":"D:\\Data\\Muhasebe.mdf","FileType":"D"},)"
            R"({"LogicalName":"Muhasebe_log","PhysicalName":"D:\\Data\\Muhasebe.ldf","FileType":"L"}]})");
  TRestoreMetadata back;
  ASSERT_TRUE(RestoreMetadataFromJson(text, back));
  EXPECT_EQ(back.PlanName, "Günlük");
  EXPECT_EQ(back.CreatedAt, m.CreatedAt);
  ASSERT_EQ(back.DbFiles.size(), 2u);
  EXPECT_EQ(back.DbFiles[1].PhysicalName, "D:\\Data\\Muhasebe.ldf");

  ASSERT_TRUE(RestoreMetadataFromJson(R"({"RarEncrypted":"TRUE","CreatedAt":"dun","DbFiles":[1,{"FileType":"D"}]})",
                                      back));
  EXPECT_TRUE(back.RarEncrypted);
  EXPECT_EQ(back.CreatedAt, 0);
  ASSERT_EQ(back.DbFiles.size(), 2u);
  EXPECT_EQ(back.DbFiles[0].FileType, "");
  EXPECT_EQ(back.DbFiles[1].FileType, "D");
  EXPECT_FALSE(RestoreMetadataFromJson("[1]", back));
  EXPECT_FALSE(RestoreMetadataFromJson("bozuk", back));
}

TEST_F(RestoreMetadataTest, SqlBackupWritesItsFileListLocallyAndOnDriveAndUpdatesInPlace) {
  InstallFakeScript(ProgramDir(), "BackupDatabase.py");
  WriteScenario(ProgramDir(), R"({"backup": {"result": {"success": true, "bakFileList": [
      {"logicalName": "Muhasebe", "physicalName": "D:\\Data\\Muhasebe.mdf", "type": "D"},
      {"logicalName": "Muhasebe_log", "physicalName": "D:\\Data\\Muhasebe_log.ldf", "type": "L"}]}}})");
  TBackupPlan plan = SqlPlan();
  plan.UseRarEncryption = true;
  TBackupPlan other = SqlPlan("Stok");
  other.ID = "{OTHER}";
  other.RarPassword = "asla-disari-cikmaz";
  TBackupPlanStore(Env()).SavePlans({plan, other});

  auto engine = MakeEngine();
  std::string message, path;
  ASSERT_TRUE(engine->RunSqlScript("backup", TJson::object(), message, path));
  for (int run = 0; run < 2; ++run) engine->WriteRestoreMetadata(plan, WorkDir() + "/Muhasebe_.rar");

  TRestoreMetadata local;
  ASSERT_TRUE(RestoreMetadataFromJson(ReadTextFile(LocalMeta("Muhasebe_restoreinfo.json")), local));
  EXPECT_EQ(local.BackupFileName, "Muhasebe_.rar");
  EXPECT_EQ(local.Server, "SQL01");
  EXPECT_TRUE(local.RarEncrypted);
  EXPECT_EQ(local.CreatedAt, Clock().Now());
  ASSERT_EQ(local.DbFiles.size(), 2u);
  EXPECT_EQ(local.DbFiles[0].LogicalName, "Muhasebe");
  EXPECT_EQ(local.DbFiles[1].FileType, "L");

  EXPECT_THAT(DriveNames(RestoreFolder()), UnorderedElementsAre("Muhasebe_restoreinfo.json", "plans.json"));
  for (const auto& file : Google().Children(RestoreFolder())) EXPECT_EQ(file.revisions.size(), 2u) << file.name;
  EXPECT_THAT(DriveText("plans.json"), HasSubstr(R"("ID":"{OTHER}")"));
  EXPECT_THAT(DriveText("plans.json"), ::testing::Not(HasSubstr("asla-disari-cikmaz")));
  EXPECT_TRUE(std::filesystem::is_empty(Env().TempDir() + "/CalvoraBackup"));
}

TEST_F(RestoreMetadataTest, WithoutAFileListTheReasonIsLoggedAndFolderPlansCarryNoServer) {
  InstallFakeScript(ProgramDir(), "BackupDatabase.py");
  WriteScenario(ProgramDir(), R"({"backup": {"result": {"success": true, "bakFileListError": "RESTORE FILELISTONLY reddedildi"}}})");
  auto engine = MakeEngine();
  std::string message, path;
  ASSERT_TRUE(engine->RunSqlScript("backup", TJson::object(), message, path));
  TLogCapture log;
  engine->WriteRestoreMetadata(SqlPlan("A"), WorkDir() + "/A_.bak");
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Yedek dosya listesi (MDF/LDF) metadata'ya alinamadi (A): RESTORE FILELISTONLY reddedildi"));

  TBackupPlan folder;
  folder.ID = "{F}";
  folder.Name = "Belgeler";
  folder.BackupType = "folder";
  folder.SourceFolder = "/srv/Belgeler";
  folder.UseRarEncryption = true;
  engine->WriteRestoreMetadata(folder, "");
  TRestoreMetadata m;
  ASSERT_TRUE(RestoreMetadataFromJson(ReadTextFile(LocalMeta("Belgeler_restoreinfo.json")), m));
  EXPECT_EQ(m.BackupType, "folder");
  EXPECT_EQ(m.Server, "");
  EXPECT_EQ(m.BackupFileName, "");
  EXPECT_FALSE(m.RarEncrypted);
  EXPECT_TRUE(m.DbFiles.empty());
}

TEST_F(RestoreMetadataTest, MetadataFailureNeverReachesTheBackup) {
  auto engine = MakeEngine();
  engine->AccountRootFolderId();
  Cloud().InjectStatus("POST", "^/drive/v3/files$", 10, 500);  // "restoremeta" cannot be made
  TLogCapture log;
  engine->WriteRestoreMetadata(SqlPlan(), WorkDir() + "/Muhasebe_.bak");
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Geri yukleme metadata kaydi basarisiz (yedek etkilenmedi)"));
  EXPECT_TRUE(std::filesystem::exists(LocalMeta("Muhasebe_restoreinfo.json")));
  // Nothing landed at the top of the Drive instead.
  EXPECT_THAT(Google().FilesNamed("Muhasebe_restoreinfo.json"), ::testing::IsEmpty());
}

TEST_F(RestoreMetadataTest, AccountRestoreDataComesBackFromDrive) {
  auto engine = MakeEngine();
  std::string message;
  EXPECT_FALSE(engine->DownloadAccountRestoreData(message));
  EXPECT_EQ(message,
            "Bulutta restoremeta klasorunde bilgi dosyasi bulunamadi. Bilgiler ilk yedek alindiginda otomatik olusur.");

  const std::string folder = RestoreFolder();
  ASSERT_FALSE(folder.empty());
  TRestoreMetadata m;
  for (const char* db : {"A", "B", "C"}) {
    m.DatabaseName = db;
    Google().AddFile(std::string(db) + "_restoreinfo.json", folder, JsonToText(RestoreMetadataToJson(m)));
  }
  Google().AddFile("plans.json", folder, R"([{"ID":"{P}"}])");
  Google().AddFile("bozuk_restoreinfo.json", folder, "bu json degil");
  Google().AddFile("notlar.txt", folder, "x");
  Google().AddFile("../../kacak_restoreinfo.json", folder, JsonToText(RestoreMetadataToJson(m)));

  ASSERT_TRUE(engine->DownloadAccountRestoreData(message)) << message;
  EXPECT_EQ(message, "Plan listesi ve 4 yedek bilgi dosyasi buluttan alindi.");
  EXPECT_EQ(ReadTextFile(LocalMeta("plans.json")), R"([{"ID":"{P}"}])");
  ASSERT_TRUE(RestoreMetadataFromJson(ReadTextFile(LocalMeta("B_restoreinfo.json")), m));
  EXPECT_EQ(m.DatabaseName, "B");
  EXPECT_TRUE(std::filesystem::exists(LocalMeta(".._.._kacak_restoreinfo.json")));
  EXPECT_FALSE(std::filesystem::exists(LocalMeta("bozuk_restoreinfo.json")));
}

}  // namespace
}  // namespace calvora::test
