#include "foundation/AppError.h"
#include "foundation/IniFile.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"
#include "plans/uBackupPlans.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <regex>

namespace calvora {
namespace {

TBackupPlan Plan(const std::string& type, const std::string& database, const std::string& folder = "") {
  TBackupPlan p;
  p.BackupType = type;
  p.DatabaseName = database;
  p.SourceFolder = folder;
  return p;
}

TEST(PlanFunctions, TypesSourcesAndNames) {
  struct Case {
    TBackupPlan plan;
    const char* type;
    const char* display;
    const char* source;
    const char* target;
    const char* prefix;
  } cases[] = {
      {Plan("Folder ", "", " /data/Projects/ "), "folder", "Klasor", "/data/Projects/", "Projects", "Projects_"},
      {Plan("FIREBIRD", " /db/Muhasebe 2024.fdb "), "firebird", "Firebird", "/db/Muhasebe 2024.fdb",
       "Muhasebe 2024", "Muhasebe_2024_"},
      {Plan("firebird", "srv:/db/.fdb"), "firebird", "Firebird", "srv:/db/.fdb", "srv:/db/.fdb", "srv__db_.fdb_"},
      {Plan("sql", "Muhasebe 2024"), "sql", "SQL", "Muhasebe 2024", "Muhasebe 2024", "Muhasebe_2024_"},
      {Plan("oracle", "A;B"), "sql", "SQL", "A, B", "A, B", "A,_B_"},
      // Empty entries of the list count nowhere, the file prefix included.
      {Plan("sql", "Muhasebe;"), "sql", "SQL", "Muhasebe", "Muhasebe", "Muhasebe_"},
      {Plan("sql", " ; A ;; B\r\n"), "sql", "SQL", "A, B", "A, B", "A,_B_"},
      {Plan("sql", ";"), "sql", "SQL", "", "", "backup_"},
      {Plan("", ""), "sql", "SQL", "", "", "backup_"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeBackupType(c.plan.BackupType), c.type) << c.plan.BackupType;
    EXPECT_EQ(BackupTypeDisplayName(c.plan), c.display);
    EXPECT_EQ(PlanSourceText(c.plan), c.source);
    EXPECT_EQ(PlanTargetName(c.plan), c.target);
    EXPECT_EQ(SafeFilePrefix(c.plan), c.prefix);
  }
  TBackupPlan named = Plan("folder", "", "");
  named.Name = " Gece ";
  EXPECT_EQ(PlanTargetName(named), "Gece");
}

TEST(PlanFunctions, DatabaseListSplitsAtSemicolonsAndLineBreaks) {
  EXPECT_EQ(PlanDatabaseList(Plan("sql", "db1; db2\r\ndb3;;")), (std::vector<std::string>{"db1", "db2", "db3"}));
  EXPECT_EQ(PlanDatabaseList(Plan("sql", "a\rb\nc;a")), (std::vector<std::string>{"a", "b", "c", "a"}));
  EXPECT_TRUE(PlanDatabaseList(Plan("sql", " \r\n ")).empty());
}

TEST(PlanFunctions, FirebirdFolderPlanListsDatabaseFilesOnly) {
  test::TTempDir dir;
  for (const char* name : {"data.FDB", "old.gdb", "x.ib", "notes.txt", "fdb"}) test::WriteFile(dir.File(name), "x");
  test::WriteFile(dir.File("sub/x.fdb"), "x");
  std::filesystem::create_directories(dir.File("dir.fdb"));
  TBackupPlan plan = Plan("firebird", " " + dir.Path() + "/ ");
  EXPECT_TRUE(IsFirebirdFolderPlan(plan));
  std::vector<std::string> files = FirebirdDatabaseFiles(plan);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{dir.File("data.FDB"), dir.File("old.gdb"), dir.File("x.ib")}));
  EXPECT_EQ(PlanTargetName(plan), ExtractFileName(dir.Path()));

  EXPECT_EQ(FirebirdDatabaseFiles(Plan("firebird", "/nowhere/a.fdb")), std::vector<std::string>{"/nowhere/a.fdb"});
  EXPECT_FALSE(IsFirebirdFolderPlan(Plan("firebird", "/nowhere")));
  EXPECT_TRUE(FirebirdDatabaseFiles(Plan("sql", dir.Path())).empty());
  EXPECT_TRUE(FirebirdDatabaseFiles(Plan("firebird", "  ")).empty());
}

TEST(PlanFunctions, PlanDateTimesAcceptTheFixedPatternIsoAndRegionalForms) {
  struct Case {
    const char* text;
    bool ok;
    const char* formatted;
  } cases[] = {{"2024-03-05 02:00:07", true, "2024-03-05 02:00:07"},
               {" 2024-03-05T02:00:07 ", true, "2024-03-05 02:00:07"},
               {"2024-03-05 02:00", true, "2024-03-05 02:00:00"},
               {"2024-03-05", true, "2024-03-05 00:00:00"},
               {"", false, ""},
               {"dun", false, ""},
               // The day count's zero and what lies before it cannot be kept.
               {"1899-12-30 00:00:01", true, "1899-12-30 00:00:01"},
               {"1899-12-30 00:00:00", false, ""},
               {"1899-12-29 23:59:59", false, ""},
               {"0001-01-01T00:00:00", false, ""},
               {"2024-13-05 02:00:07", false, ""}};
  for (const auto& c : cases) {
    TDateTime v = 99;
    EXPECT_EQ(ParsePlanDateTime(c.text, v), c.ok) << c.text;
    EXPECT_EQ(c.ok ? FormatPlanDateTime(v) : std::string(v == 0 ? "" : "not zero"), c.formatted) << c.text;
  }
}

class PlanStoreTest : public ::testing::Test {
 protected:
  std::string PlanFile() const { return dir.File("backupplans.json"); }
  // The plain JSON inside the protected plan file.
  TJson StoredJson() const {
    const std::string raw = test::ReadFile(PlanFile());
    EXPECT_EQ(raw.substr(0, 3), "\xEF\xBB\xBF");
    TJson json;
    EXPECT_TRUE(TryParseJson(UnprotectSecret(raw.substr(3)), json));
    return json;
  }
  test::TTempDir dir;
  TBackupPlanStore store{dir.Path()};
};

TEST_F(PlanStoreTest, GeneratesBracedUpperCaseGuids) {
  const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  const std::string a = TBackupPlanStore::GeneratePlanID(), b = TBackupPlanStore::GeneratePlanID();
  EXPECT_TRUE(std::regex_match(a, form)) << a;
  EXPECT_NE(a, b);
}

TEST_F(PlanStoreTest, MissingFileIsAnEmptyListAndSaveRoundTripsEveryField) {
  EXPECT_TRUE(store.LoadPlans().empty());
  TBackupPlan p;
  p.ID = TBackupPlanStore::GeneratePlanID();
  p.Name = "Gece yedeği";
  p.Description = "açıklama \"tırnak\"\n2. satır";
  p.Enabled = true;
  p.BackupType = "Firebird";
  p.DatabaseName = "/db/a.fdb";
  p.SourceFolder = "/src";
  p.TempDirectory = "/tmp/work";
  p.DriveSubFolder = "Yedek/Gece";
  p.AutoRun = false;
  p.ScheduleType = "weekly";
  p.ScheduleTime = "03:30";
  p.WeeklyDays = "2,4,6";
  p.IntervalMinutes = 15;
  p.RunOnServiceStart = true;
  p.UseCompression = false;
  p.UseRarEncryption = true;
  p.RarPassword = "şifre";
  p.RarSplitVolumeMB = 0;
  p.ReportEmailAddresses = "a@b.c; d@e.f";
  p.DeleteLocalAfterUpload = true;
  p.LocalBackupRetentionDays = 7;
  p.UploadRetryCount = 0;
  p.CleanupFailedFiles = false;
  p.FailedFileRetentionHours = 48;
  p.EnableDifferential = true;
  p.FullBackupIntervalMinutes = 1440;
  p.LastFullBackupAt = EncodeDateTime(2024, 3, 4, 2, 0, 7);
  p.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 1, 0);
  p.LastStatus = "Başarılı";
  p.LastMessage = "tamam";
  p.LastBackupFile = "a_FULL.fbk; b_FULL.fbk";
  TBackupPlan unset;
  unset.ID = "{2}";
  unset.Name = "n";
  store.SavePlans({p, unset});

  std::vector<TBackupPlan> back = store.LoadPlans();
  ASSERT_EQ(back.size(), 2u);
  TBackupPlan want = p;
  want.BackupType = "firebird";
  // Field by field (the envelope of the password differs at every save).
  TJson a = TBackupPlanStore::PlanToJson(back[0]), b = TBackupPlanStore::PlanToJson(want);
  a.erase("RarPasswordProtected");
  b.erase("RarPasswordProtected");
  EXPECT_EQ(a, b);
  EXPECT_EQ(back[0].RarPassword, "şifre");
  EXPECT_EQ(back[1].LastRunAt, 0);
  EXPECT_EQ(back[1].LastFullBackupAt, 0);
}

TEST_F(PlanStoreTest, FileFormatIsAProtectedCompactArrayInTableOrder) {
  TBackupPlan p;
  p.ID = "{1}";
  p.Name = "Çay";
  p.RarPassword = "pw";
  p.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 0, 7);
  store.SavePlans({p});
  const std::string raw = test::ReadFile(PlanFile());
  EXPECT_EQ(raw.substr(0, 9), "\xEF\xBB\xBF" "dpapi:");
  const std::string json = UnprotectSecret(raw.substr(3));
  TJson parsed;
  ASSERT_TRUE(TryParseJson(json, parsed));
  const std::string envelope = parsed[0]["RarPasswordProtected"];
  EXPECT_TRUE(IsProtectedSecret(envelope));  // protected twice
  EXPECT_EQ(UnprotectSecret(envelope), "pw");
  EXPECT_EQ(json,
            "[{\"ID\":\"{1}\",\"Name\":\"\\u00c7ay\",\"Description\":\"\",\"Enabled\":false,\"BackupType\":\"sql\","
            "\"DatabaseName\":\"\",\"SourceFolder\":\"\",\"TempDirectory\":\"\",\"DriveSubFolder\":\"\","
            "\"AutoRun\":false,\"ScheduleType\":\"periodic\",\"ScheduleTime\":\"02:00\",\"WeeklyDays\":\"\","
            "\"IntervalMinutes\":60,\"RunOnServiceStart\":false,\"UseCompression\":true,\"UseRarEncryption\":false,"
            "\"RarPasswordProtected\":\"" +
                envelope +
                "\",\"RarSplitVolumeMB\":1024,\"ReportEmailAddresses\":\"\",\"DeleteLocalAfterUpload\":false,"
                "\"LocalBackupRetentionDays\":0,\"UploadRetryCount\":2,\"CleanupFailedFiles\":true,"
                "\"FailedFileRetentionHours\":24,\"EnableDifferential\":false,\"FullBackupIntervalMinutes\":43200,"
                "\"LastFullBackupAt\":\"\",\"LastRunAt\":\"2024-03-05 02:00:07\",\"LastStatus\":\"\","
                "\"LastMessage\":\"\",\"LastBackupFile\":\"\"}]");
}

TBackupPlan FromJson(const TBackupPlanStore& store, const std::string& json) {
  TJson o;
  EXPECT_TRUE(TryParseJson(json, o)) << json;
  return store.PlanFromJson(o);
}

TEST_F(PlanStoreTest, DefaultsOfAPlanWithOnlyIdAndName) {
  test::WriteFile(dir.File("config.ini"), "[MSSQLBackup]\r\nDatabase= Eski DB \r\n");
  TBackupPlan p = FromJson(store, R"({"ID":"{1}","Name":"n"})");
  EXPECT_FALSE(p.Enabled);
  EXPECT_FALSE(p.AutoRun);
  EXPECT_EQ(p.BackupType, "sql");
  EXPECT_EQ(p.ScheduleType, "periodic");
  EXPECT_EQ(p.ScheduleTime, "02:00");
  EXPECT_EQ(p.IntervalMinutes, 60);
  EXPECT_TRUE(p.UseCompression);
  EXPECT_EQ(p.RarSplitVolumeMB, 1024);
  EXPECT_EQ(p.UploadRetryCount, 2);
  EXPECT_TRUE(p.CleanupFailedFiles);
  EXPECT_EQ(p.FailedFileRetentionHours, 24);
  EXPECT_EQ(p.FullBackupIntervalMinutes, 43200);
  EXPECT_EQ(p.LocalBackupRetentionDays, 0);
  EXPECT_EQ(p.DatabaseName, "Eski DB");  // from the old configuration, trimmed
  test::WriteFile(dir.File("config.ini"), "[MSSQLBackup]\r\nDatabase=" + ProtectSecret("Muhasebe") + "\r\n");
  EXPECT_EQ(store.ReadLegacyDatabaseName(), "Muhasebe");

  test::WriteFile(dir.File("config.ini"), "[MSSQLBackup]\r\nDatabase=dpapi:broken\r\n");
  EXPECT_EQ(FromJson(store, R"({"Name":"n"})").DatabaseName, "");
  std::filesystem::remove(dir.File("config.ini"));
  EXPECT_EQ(store.ReadLegacyDatabaseName(), "");
  EXPECT_EQ(FromJson(store, R"({"BackupType":"folder","SourceFolder":"/a/Belgeler/"})").Name, "Belgeler");
}

TEST_F(PlanStoreTest, MembersReadByTheirTextValueWithBoundsAndFallbacks) {
  struct Case {
    const char* json;
    std::function<bool(const TBackupPlan&)> check;
  } cases[] = {
      {R"({"Enabled":true})", [](auto& p) { return p.AutoRun; }},
      {R"({"Enabled":true,"AutoRun":false})", [](auto& p) { return !p.AutoRun; }},
      {R"({"Enabled":"TRUE"})", [](auto& p) { return p.Enabled; }},
      {R"({"Enabled":1})", [](auto& p) { return !p.Enabled; }},
      {R"({"FullBackupIntervalDays":7})", [](auto& p) { return p.FullBackupIntervalMinutes == 10080; }},
      {R"({"FullBackupIntervalDays":"x"})", [](auto& p) { return p.FullBackupIntervalMinutes == 43200; }},
      {R"({"FullBackupIntervalDays":9999999})", [](auto& p) { return p.FullBackupIntervalMinutes == 43200; }},
      {R"({"FullBackupIntervalDays":7,"FullBackupIntervalMinutes":60})",
       [](auto& p) { return p.FullBackupIntervalMinutes == 60; }},
      {R"({"IntervalMinutes":-5})", [](auto& p) { return p.IntervalMinutes == 60; }},
      {R"({"IntervalMinutes":"15"})", [](auto& p) { return p.IntervalMinutes == 15; }},
      {R"({"IntervalMinutes":1.5})", [](auto& p) { return p.IntervalMinutes == 60; }},
      {R"({"UploadRetryCount":-1})", [](auto& p) { return p.UploadRetryCount == 0; }},
      {R"({"UploadRetryCount":"many"})", [](auto& p) { return p.UploadRetryCount == 2; }},
      {R"({"RarSplitVolumeMB":-1})", [](auto& p) { return p.RarSplitVolumeMB == 0; }},
      {R"({"RarSplitVolumeMB":null})", [](auto& p) { return p.RarSplitVolumeMB == 1024; }},
      {R"({"FailedFileRetentionHours":0})", [](auto& p) { return p.FailedFileRetentionHours == 24; }},
      {R"({"LocalBackupRetentionDays":-3})", [](auto& p) { return p.LocalBackupRetentionDays == 0; }},
      {R"({"LocalBackupRetentionDays":99999999999})", [](auto& p) { return p.LocalBackupRetentionDays == 0; }},
      {R"({"UseCompression":false,"CleanupFailedFiles":"no"})",
       [](auto& p) { return !p.UseCompression && !p.CleanupFailedFiles; }},
      {R"({"LastRunAt":"2024-03-05T02:00:07"})",
       [](auto& p) { return FormatPlanDateTime(p.LastRunAt) == "2024-03-05 02:00:07"; }},
      {R"({"LastRunAt":"","LastFullBackupAt":"yarin"})", [](auto& p) { return p.LastRunAt == 0 && p.LastFullBackupAt == 0; }},
      {R"({"BackupType":"Folder ","ScheduleType":"","ScheduleTime":""})",
       [](auto& p) { return p.BackupType == "folder" && p.ScheduleType == "periodic" && p.ScheduleTime == "02:00"; }},
      {R"({"BackupType":"oracle"})", [](auto& p) { return p.BackupType == "sql"; }},
      {R"({"DatabaseName":"","Database":"Old"})", [](auto& p) { return p.DatabaseName == "Old"; }},
      {R"({"DatabaseName":"New","Database":"Old"})", [](auto& p) { return p.DatabaseName == "New"; }},
      {R"({"ReportEmail":"a@b"})", [](auto& p) { return p.ReportEmailAddresses == "a@b"; }},
      {R"({"ReportEmail":"a@b","ReportEmailAddresses":""})", [](auto& p) { return p.ReportEmailAddresses.empty(); }},
      {R"({"RarPassword":"x"})", [](auto& p) { return p.RarPassword == "x"; }},
      {R"({"RarPassword":"x","RarPasswordProtected":""})", [](auto& p) { return p.RarPassword.empty(); }},
      {R"({"RarPasswordProtected":"plain"})", [](auto& p) { return p.RarPassword == "plain"; }},
      {R"({"Name":42,"Description":true,"ID":{"a":1}})",
       [](auto& p) { return p.Name == "42" && p.Description == "true" && p.ID == "{\"a\":1}"; }},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.check(FromJson(store, c.json))) << c.json;

  try {
    FromJson(store, R"({"RarPasswordProtected":"dpapi:AAAA"})");
    ADD_FAILURE() << "an unreadable password must fail the plan";
  } catch (const EAppError& e) {
    EXPECT_STREQ(e.what(), "Gizli bilgi okunamadi: Veri gecersiz");
  }
}

TEST_F(PlanStoreTest, LegacyPasswordIsWrittenBackProtected) {
  test::WriteFile(PlanFile(), R"([{"ID":"{1}","Name":"n","RarPassword":"x","FullBackupIntervalDays":7}])");
  std::vector<TBackupPlan> plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 1u);
  store.SavePlans(plans);
  TJson stored = StoredJson()[0];
  EXPECT_FALSE(stored.contains("RarPassword"));
  EXPECT_FALSE(stored.contains("FullBackupIntervalDays"));
  EXPECT_EQ(stored["FullBackupIntervalMinutes"], 10080);
  EXPECT_EQ(UnprotectSecret(stored["RarPasswordProtected"].get<std::string>()), "x");
}

TEST_F(PlanStoreTest, PlainFileIsProtectedDuringTheLoad) {
  test::WriteFile(PlanFile(), "\xEF\xBB\xBF" R"([{"ID":"{1}","Name":"Eski"}])");
  std::vector<TBackupPlan> plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].Name, "Eski");
  EXPECT_EQ(StoredJson(), TJson::parse(R"([{"ID":"{1}","Name":"Eski"}])"));
  EXPECT_EQ(store.LoadPlans().size(), 1u);
}

TEST_F(PlanStoreTest, UnopenableFileIsQuarantined) {
  test::WriteFile(PlanFile() + ".corrupt", "older quarantine");
  test::WriteFile(PlanFile(), "dpapi:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  EXPECT_TRUE(store.LoadPlans().empty());
  EXPECT_FALSE(FileExists(PlanFile()));
  EXPECT_EQ(test::ReadFile(PlanFile() + ".corrupt"), "dpapi:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
}

TEST_F(PlanStoreTest, UnreadableMachineKeyFailsTheLoadAndKeepsTheFile) {
  store.SavePlans({TBackupPlan()});
  const std::string before = test::ReadFile(PlanFile());
  const std::string saved = std::getenv("CALVORA_MACHINE_KEY_FILE");
  test::WriteFile(dir.File("short.key"), "too short");
  setenv("CALVORA_MACHINE_KEY_FILE", dir.File("short.key").c_str(), 1);
  EXPECT_THROW(store.LoadPlans(), EAppError);
  setenv("CALVORA_MACHINE_KEY_FILE", saved.c_str(), 1);
  EXPECT_EQ(test::ReadFile(PlanFile()), before);
  EXPECT_FALSE(FileExists(PlanFile() + ".corrupt"));
  EXPECT_EQ(store.LoadPlans().size(), 1u);
}

// A date the file cannot hold is refused when it is read, with a warning,
// so what a load gives is what the next save keeps.
TEST_F(PlanStoreTest, DatesBeforeTheDayCountStartAreRefusedAtLoad) {
  test::WriteFile(PlanFile(), ProtectSecret(R"([{"ID":"{1}","LastRunAt":"1850-01-01 10:00:00",)"
                                            R"("LastFullBackupAt":"2024-03-05 02:00:07"}])"));
  test::TLogCapture log;
  const std::vector<TBackupPlan> loaded = store.LoadPlans();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].LastRunAt, 0);
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Plan tarihi okunamadi, bos kabul edildi ({1}, LastRunAt): 1850-01-01"));
  store.SavePlans(loaded);
  const std::vector<TBackupPlan> again = store.LoadPlans();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].LastRunAt, loaded[0].LastRunAt);
  EXPECT_EQ(FormatPlanDateTime(again[0].LastFullBackupAt), "2024-03-05 02:00:07");
}

// The store's one-change operations work on a fresh load: what another
// writer stored after the caller's own load survives.
TEST_F(PlanStoreTest, OneChangeByIdKeepsWhatAnotherWriterStoredMeanwhile) {
  TBackupPlan a, b;
  a.ID = "{A}";
  a.Name = "A";
  b.ID = "{B}";
  b.Name = "B";
  store.SavePlans({a, b});
  const std::vector<TBackupPlan> windowCopy = store.LoadPlans();

  // The service records a run of A after the window loaded the list.
  TBackupPlan ran = windowCopy[0];
  ran.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 0, 0);
  ran.LastFullBackupAt = ran.LastRunAt;
  ran.LastStatus = "Başarılı";
  ran.LastMessage = "tamam";
  ran.LastBackupFile = "A_FULL.bak";
  ASSERT_TRUE(store.SavePlanRunFields(ran));

  // The window saves its (older) copy of A with an edit, and a new plan.
  TBackupPlan edited = windowCopy[0];
  edited.Name = "A yeni";
  edited.LastStatus = "Hatalı";
  store.SavePlan(edited);
  TBackupPlan added;
  added.ID = "{C}";
  added.Name = "C";
  store.SavePlan(added);

  std::vector<TBackupPlan> now = store.LoadPlans();
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(now[0].Name, "A yeni");
  EXPECT_EQ(now[0].LastRunAt, ran.LastRunAt);
  EXPECT_EQ(now[0].LastFullBackupAt, ran.LastRunAt);
  EXPECT_EQ(now[0].LastStatus, "Başarılı");
  EXPECT_EQ(now[0].LastMessage, "tamam");
  EXPECT_EQ(now[0].LastBackupFile, "A_FULL.bak");
  EXPECT_EQ(now[2].Name, "C");

  // A run that ends after an edit keeps the edit and hands back the stored plan.
  ran.Name = "eski ad";
  ran.LastMessage = "ikinci";
  ASSERT_TRUE(store.SavePlanRunFields(ran));
  EXPECT_EQ(ran.Name, "A yeni");
  EXPECT_EQ(store.LoadPlans()[0].LastMessage, "ikinci");

  // Delete by ID keeps the order of the others; an unknown ID changes nothing.
  ASSERT_TRUE(store.DeletePlan("{b}"));
  now = store.LoadPlans();
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0].ID, "{A}");
  EXPECT_EQ(now[1].ID, "{C}");
  const std::string before = test::ReadFile(PlanFile());
  EXPECT_FALSE(store.DeletePlan("{B}"));
  TBackupPlan gone;
  gone.ID = "{B}";
  EXPECT_FALSE(store.SavePlanRunFields(gone));
  EXPECT_EQ(test::ReadFile(PlanFile()), before);
}

TEST_F(PlanStoreTest, NotAnArrayIsEmptyAndANonObjectElementFailsTheLoad) {
  store.SavePlans({});
  EXPECT_EQ(StoredJson(), TJson::array());
  test::WriteFile(PlanFile(), ProtectSecret(R"({"ID":"{1}"})"));
  EXPECT_TRUE(store.LoadPlans().empty());
  EXPECT_TRUE(FileExists(PlanFile()));
  test::WriteFile(PlanFile(), ProtectSecret(R"([{"ID":"{1}"}, 5])"));
  EXPECT_THROW(store.LoadPlans(), EConvertError);
}

}  // namespace
}  // namespace calvora
