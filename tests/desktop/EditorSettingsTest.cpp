// The task editor and the settings window, driven by object names.
#include "DesktopTestSupport.h"

#include "desktop/DesktopText.h"
#include "desktop/frmSQLTaskEdit.h"
#include "desktop/frmSettings.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "plans/uPlanValidation.h"
#include "service/uServiceManager.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>

namespace calvora {
namespace {

using desktop::S;
using desktop::TSettingsForm;
using desktop::TSQLTaskEditForm;

template <typename T>
T* In(QWidget* Window, const char* Name) {
  T* widget = Window->findChild<T*>(Name);
  EXPECT_NE(widget, nullptr) << Name;
  return widget;
}

std::string TextOf(QWidget* Window, const char* Name) { return S(In<QLabel>(Window, Name)->text()); }
void SetText(QWidget* Window, const char* Name, const std::string& Text) {
  In<QLineEdit>(Window, Name)->setText(desktop::Q(Text));
}
void Press(QWidget* Window, const char* Name) { In<QAbstractButton>(Window, Name)->click(); }
bool Checked(QWidget* Window, const char* Name) { return In<QCheckBox>(Window, Name)->isChecked(); }
bool Enabled(QWidget* Window, const char* Name) { return In<QWidget>(Window, Name)->isEnabled(); }

TBackupPlan FullSqlPlan() {
  TBackupPlan p;
  p.ID = "{11111111-0000-4000-8000-00000000000A}";
  p.Name = "Gece";
  p.Description = "Muhasebe ve stok";
  p.Enabled = true;
  p.BackupType = "sql";
  p.DatabaseName = "Muhasebe; Stok";
  p.TempDirectory = "/yedek";
  p.DriveSubFolder = "Sql";
  p.AutoRun = true;
  p.ScheduleType = "weekly";
  p.ScheduleTime = "03:15";
  p.WeeklyDays = "2,4,6";
  p.IntervalMinutes = 45;
  p.UseCompression = true;
  p.UseRarEncryption = true;
  p.RarPassword = " gizli ";
  p.RarSplitVolumeMB = 512;
  p.ReportEmailAddresses = "a@firma.tr; b@firma.tr";
  p.DeleteLocalAfterUpload = true;
  p.LocalBackupRetentionDays = 7;
  p.UploadRetryCount = 3;
  p.CleanupFailedFiles = false;
  p.FailedFileRetentionHours = 48;
  p.EnableDifferential = true;
  p.FullBackupIntervalMinutes = 2880;
  p.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 0, 7);
  p.LastStatus = "Başarılı";
  p.LastMessage = "Yedek yuklendi.";
  p.LastBackupFile = "Gece_FULL.bak";
  return p;
}

TBackupPlan FolderPlan() {
  TBackupPlan p = FullSqlPlan();
  p.BackupType = "folder";
  p.SourceFolder = "/veri/Belgeler";
  p.UseRarEncryption = false;
  p.RarPassword.clear();
  p.ScheduleType = "DAILY";
  return p;  // keeps database, compression and work folder values it does not use
}

TBackupPlan FirebirdPlan() {
  TBackupPlan p = FullSqlPlan();
  p.BackupType = "firebird";
  p.DatabaseName = "/veri/muhasebe.fdb";
  p.UseRarEncryption = false;
  p.RarPassword.clear();
  p.ScheduleType = "periodic";
  return p;
}

// Field by field; the password compared plain (its envelope differs each time).
TJson Fields(const TBackupPlan& Plan) {
  TJson json = TBackupPlanStore::PlanToJson(Plan);
  json["RarPasswordProtected"] = Plan.RarPassword;
  return json;
}
bool SamePlan(const TBackupPlan& a, const TBackupPlan& b) { return Fields(a) == Fields(b); }

class EditorTest : public test::DesktopTest {
 protected:
  std::unique_ptr<TSQLTaskEditForm> Editor(const TBackupPlan& Plan) {
    auto form = std::make_unique<TSQLTaskEditForm>(Env(), prompts);
    form->LoadPlan(Plan);
    form->show();
    return form;
  }
};

TEST_F(EditorTest, TypeRulesRelabelAndClear) {
  auto form = Editor(FullSqlPlan());
  QWidget* w = form.get();
  EXPECT_EQ(TextOf(w, "lblTitle"), "SQL Yedekleme Gorevi");
  EXPECT_EQ(TextOf(w, "lblTempDirInfo"), ".bak dosyalarinin olusacagi klasor");
  EXPECT_TRUE(In<QWidget>(w, "clbDatabases")->isVisible());
  EXPECT_FALSE(In<QWidget>(w, "edtDatabase")->isVisible());
  EXPECT_TRUE(Enabled(w, "edtFullInterval"));
  EXPECT_TRUE(Enabled(w, "edtRarPassword"));

  In<QComboBox>(w, "cmbBackupType")->setCurrentIndex(1);
  EXPECT_EQ(TextOf(w, "lblTitle"), "Klasor Yedekleme Gorevi");
  EXPECT_EQ(TextOf(w, "lblDataSource"), "Kaynak Ozeti");
  for (const char* box : {"chkCompression", "chkDifferential", "chkRarEncryption", "chkDeleteLocal"}) {
    EXPECT_FALSE(Checked(w, box)) << box;
    EXPECT_FALSE(Enabled(w, box)) << box;
  }
  EXPECT_TRUE(In<QLineEdit>(w, "edtRarPassword")->text().isEmpty());
  EXPECT_FALSE(Enabled(w, "edtRarSplitMB"));
  EXPECT_FALSE(Enabled(w, "btnLoadDatabases"));
  EXPECT_TRUE(Enabled(w, "edtReportEmails"));

  In<QComboBox>(w, "cmbBackupType")->setCurrentIndex(2);
  EXPECT_EQ(TextOf(w, "lblTitle"), "Firebird Yedekleme Gorevi");
  EXPECT_TRUE(In<QWidget>(w, "edtDatabase")->isVisible());
  EXPECT_FALSE(In<QWidget>(w, "clbDatabases")->isVisible());
  EXPECT_TRUE(Enabled(w, "chkDeleteLocal"));
  EXPECT_TRUE(Enabled(w, "edtRarSplitMB"));
  // Back to SQL: what was cleared stays cleared.
  In<QComboBox>(w, "cmbBackupType")->setCurrentIndex(0);
  EXPECT_FALSE(Checked(w, "chkCompression"));
  EXPECT_FALSE(Checked(w, "chkRarEncryption"));
}

TEST_F(EditorTest, FullPeriodUnits) {
  struct Case {
    int minutes;
    const char* value;
    const char* unit;
  } cases[] = {{0, "0", "Gün"}, {90, "90", "Dakika"}, {120, "2", "Saat"}, {2880, "2", "Gün"}};
  for (const auto& c : cases) {
    TBackupPlan plan = FullSqlPlan();
    plan.FullBackupIntervalMinutes = c.minutes;
    auto form = Editor(plan);
    EXPECT_EQ(S(In<QLineEdit>(form.get(), "edtFullInterval")->text()), c.value) << c.minutes;
    EXPECT_EQ(S(In<QComboBox>(form.get(), "cmbFullIntervalUnit")->currentText()), c.unit) << c.minutes;
  }
  auto form = Editor(FullSqlPlan());
  SetText(form.get(), "edtFullInterval", "2");
  In<QComboBox>(form.get(), "cmbFullIntervalUnit")->setCurrentIndex(1);
  TBackupPlan saved = FullSqlPlan();
  form->SaveToPlan(saved);
  EXPECT_EQ(saved.FullBackupIntervalMinutes, 120);
}

// An unchanged save gives back the same record for every type, the list
// spelling "A; B" and the fields a type does not show included.
TEST_F(EditorTest, UnchangedSaveKeepsTheRecord) {
  for (const TBackupPlan& original : {FullSqlPlan(), FolderPlan(), FirebirdPlan()}) {
    auto form = Editor(original);
    if (original.BackupType == "sql") {
      auto* list = In<QListWidget>(form.get(), "clbDatabases");
      ASSERT_EQ(list->count(), 2);
      EXPECT_EQ(S(list->item(1)->text()), "Stok");
      EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
    }
    ASSERT_TRUE(form->ValidateInput()) << prompts.LastMessage();
    TBackupPlan saved = original;
    form->SaveToPlan(saved);
    EXPECT_TRUE(SamePlan(saved, original)) << original.BackupType << "\n"
                                           << Fields(saved).dump() << "\n"
                                           << Fields(original).dump();
  }
}

TEST_F(EditorTest, EditsAreWrittenAndFolderRecipientsKept) {
  auto form = Editor(FolderPlan());
  SetText(form.get(), "edtReportEmails", "patron@firma.tr");
  SetText(form.get(), "edtTempDir", " /veri/Yeni ");
  SetText(form.get(), "edtRarSplitMB", "-5");
  TBackupPlan saved = FolderPlan();
  form->SaveToPlan(saved);
  EXPECT_EQ(saved.ReportEmailAddresses, "patron@firma.tr");
  EXPECT_EQ(saved.SourceFolder, "/veri/Yeni");
  EXPECT_EQ(saved.RarSplitVolumeMB, 0);
  EXPECT_EQ(saved.ID, FolderPlan().ID);
  EXPECT_EQ(saved.LastStatus, "Başarılı");

  // Unticking a database of "A; B" writes the trimmed rest.
  auto sql = Editor(FullSqlPlan());
  In<QListWidget>(sql.get(), "clbDatabases")->item(0)->setCheckState(Qt::Unchecked);
  saved = FullSqlPlan();
  sql->SaveToPlan(saved);
  EXPECT_EQ(saved.DatabaseName, "Stok");
}

// The ten checks in order plus the password, through "Kaydet".
TEST_F(EditorTest, SaveChecksInOrder) {
  TBackupPlan plan = FullSqlPlan();
  plan.CleanupFailedFiles = true;
  auto form = Editor(plan);
  QWidget* w = form.get();
  In<QListWidget>(w, "clbDatabases")->item(0)->setCheckState(Qt::Unchecked);
  In<QListWidget>(w, "clbDatabases")->item(1)->setCheckState(Qt::Unchecked);
  SetText(w, "edtDatabase", "");
  SetText(w, "edtName", " ");
  SetText(w, "edtLocalRetention", "x");
  SetText(w, "edtUploadRetry", "-1");
  SetText(w, "edtFailedRetention", "0");
  SetText(w, "edtRarPassword", " ");
  for (QCheckBox* day : w->findChildren<QCheckBox*>(QRegularExpression("^chkDay"))) day->setChecked(false);
  struct Step {
    std::string text;
    std::function<void()> mend;
  } steps[] = {
      {"Gorev adi zorunlu.", [&] { SetText(w, "edtName", "Gece"); }},
      {"En az bir veritabani secin.", [&] { In<QListWidget>(w, "clbDatabases")->item(0)->setCheckState(Qt::Checked); }},
      {"Yerel saklama suresi 0 veya daha buyuk olmali.", [&] { SetText(w, "edtLocalRetention", "0"); }},
      {"Ek upload deneme sayisi 0 veya daha buyuk olmali.", [&] { SetText(w, "edtUploadRetry", "2"); }},
      {"Temizlik suresi 0'dan buyuk olmali.", [&] { SetText(w, "edtFailedRetention", "24"); }},
      {"Haftalik zamanlama icin en az bir gun secin.", [&] { In<QCheckBox>(w, "chkDay2")->setChecked(true); }},
      {kRarPasswordRequired, [&] { SetText(w, "edtRarPassword", "s"); }},
  };
  for (auto& step : steps) {
    prompts.Clear();
    Press(w, "btnOK");
    ASSERT_EQ(prompts.Messages().size(), 1u);
    EXPECT_EQ(prompts.Messages()[0].Kind, desktop::TMessageKind::Warning);
    EXPECT_EQ(prompts.LastMessage(), step.text);
    EXPECT_TRUE(w->isVisible());
    step.mend();
  }
  prompts.Clear();
  Press(w, "btnOK");
  EXPECT_TRUE(prompts.Messages().empty()) << prompts.LastMessage();
  EXPECT_EQ(form->result(), QDialog::Accepted);

  // Periodic with an unreadable period, and the two Firebird checks.
  TBackupPlan fb = FirebirdPlan();
  fb.DatabaseName.clear();
  fb.TempDirectory.clear();
  auto other = Editor(fb);
  SetText(other.get(), "edtInterval", "abc");
  for (const char* text : {"Firebird veritabani yolu zorunlu.", "Backup klasoru zorunlu.",
                           "Periyodik zamanlama icin dakika degeri 0'dan buyuk olmali."}) {
    Press(other.get(), "btnOK");
    EXPECT_EQ(prompts.LastMessage(), text);
    if (std::string(text) == "Firebird veritabani yolu zorunlu.") SetText(other.get(), "edtDatabase", "/a.fdb");
    if (std::string(text) == "Backup klasoru zorunlu.") SetText(other.get(), "edtTempDir", "/yedek");
  }
}

// Turning automatic runs on unlocks the weekly controls at once.
TEST_F(EditorTest, AutoRunReappliesScheduleRules) {
  TBackupPlan plan = FullSqlPlan();
  plan.AutoRun = false;
  auto form = Editor(plan);
  EXPECT_FALSE(Enabled(form.get(), "chkDay1"));
  In<QCheckBox>(form.get(), "chkAutoRun")->setChecked(true);
  EXPECT_TRUE(Enabled(form.get(), "chkDay1"));
  EXPECT_TRUE(Enabled(form.get(), "timePicker"));
  EXPECT_FALSE(Enabled(form.get(), "edtInterval"));
}

TEST_F(EditorTest, BrowseStartsInTheFolderLine) {
  auto form = Editor(FullSqlPlan());
  prompts.AnswerFolder("/secilen");
  Press(form.get(), "btnBrowse");
  EXPECT_EQ(prompts.PickerStarts().back(), "/yedek");
  EXPECT_EQ(S(In<QLineEdit>(form.get(), "edtTempDir")->text()), "/secilen");
}

// ---------------------------------------------------------------- settings

class SettingsTest : public test::DesktopTest {
 protected:
  std::unique_ptr<TSettingsForm> Settings(desktop::TSettingsHooks Hooks = {}) {
    auto form = std::make_unique<TSettingsForm>(Env(), prompts, nullptr, std::move(Hooks));
    form->show();
    return form;
  }
};

TEST_F(SettingsTest, OkStoresWhatIsShownCancelNothing) {
  auto form = Settings();
  SetText(form.get(), "edRootFolderID", "kok");
  SetText(form.get(), "edAuthPort", "x");
  In<QCheckBox>(form.get(), "chkEnableFirebird")->setChecked(true);
  SetText(form.get(), "edFBServer", " ");
  SetText(form.get(), "edFBPort", "abc");
  SetText(form.get(), "edFBUserName", "");
  SetText(form.get(), "edServer", " sql1 ");
  Press(form.get(), "btnOK");
  EXPECT_EQ(Env().Config().GetRootFolderID(), "kok");
  EXPECT_EQ(Env().Config().GetAuthPort(), 8080);
  const TFirebirdBackupConfig fb = Env().Config().GetFirebirdBackupConfig();
  EXPECT_EQ(fb.Server, "localhost");
  EXPECT_EQ(fb.Port, 3050);
  EXPECT_EQ(fb.UserName, "SYSDBA");
  EXPECT_EQ(Env().Config().GetMSSQLBackupConfig().Server, "sql1");
  // The hidden client fields were not written: no pinned built-in value.
  EXPECT_EQ(ReadIniFileValue(Env().Config().GetConfigFilePath(), "Google", "ClientID"), "");
  EXPECT_EQ(ReadIniFileValue(Env().Config().GetConfigFilePath(), "Google", "ClientSecret"), "");

  auto again = Settings();
  EXPECT_EQ(S(In<QLineEdit>(again.get(), "edRootFolderID")->text()), "kok");
  SetText(again.get(), "edRootFolderID", "baska");
  Press(again.get(), "btnCancel");
  EXPECT_EQ(Env().Config().GetRootFolderID(), "kok");
}

TEST_F(SettingsTest, FirebirdTestStoresNothingBeforeOk) {
  auto form = Settings();
  if (Checked(form.get(), "chkEnableFirebird")) Press(form.get(), "chkEnableFirebird");
  Press(form.get(), "chkEnableFirebird");
  // Unticked again after the test button is enabled: the test sees what is shown.
  In<QCheckBox>(form.get(), "chkEnableFirebird")->setChecked(false);
  Press(form.get(), "btnTestFirebird");
  EXPECT_EQ(prompts.LastMessage(), "Firebird baglanti hatasi: Firebird backup ayarlari etkin degil.");
  In<QCheckBox>(form.get(), "chkEnableFirebird")->setChecked(true);
  SetText(form.get(), "edFBServer", "10.0.0.9");
  Press(form.get(), "btnTestFirebird");
  Press(form.get(), "btnCancel");
  EXPECT_NE(Env().Config().GetFirebirdBackupConfig().Server, "10.0.0.9");
  EXPECT_FALSE(Env().Config().GetFirebirdBackupConfig().Enabled);

  Press(form.get(), "chkEnableBackup");
  Press(form.get(), "btnTestBackup");
  EXPECT_EQ(prompts.LastMessage(), "Baglanti hatasi: MSSQL backup ayarlari eksik.");
}

TEST_F(SettingsTest, PlansTabSavesByIdAndKeepsTheServicesFields) {
  TBackupPlan existing = FullSqlPlan();
  existing.CleanupFailedFiles = false;
  existing.FailedFileRetentionHours = 0;
  TBackupPlanStore store(Env());
  store.SavePlans({existing});
  auto form = Settings();
  EXPECT_EQ(TextOf(form.get(), "lblPlanDb"), "Veritaban Ad:");

  // The service runs the plan while the window is open.
  TBackupPlan ran = store.LoadPlans()[0];
  ran.LastMessage = "Servis calisti.";
  store.SavePlanRunFields(ran);

  In<QListWidget>(form.get(), "lbPlans")->setCurrentRow(0);
  EXPECT_EQ(TextOf(form.get(), "lblPlanDb"), "Veritaban Adi:");
  EXPECT_EQ(TextOf(form.get(), "lblPlanLastStatus"), "Durum: Başarılı");
  SetText(form.get(), "edPlanInterval", "30");
  Press(form.get(), "btnSavePlan");
  EXPECT_EQ(prompts.LastMessage(), "Plan kaydedildi.");
  auto plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].IntervalMinutes, 30);
  EXPECT_EQ(plans[0].LastMessage, "Servis calisti.");
  // Stored with cleanup off: stays off (the store reads 0 hours as 24).
  EXPECT_FALSE(plans[0].CleanupFailedFiles);

  // Nothing selected: a new SQL plan with a fresh identifier.
  Press(form.get(), "btnNewPlan");
  SetText(form.get(), "edPlanName", "Yeni");
  SetText(form.get(), "edPlanDb", "Stok");
  Press(form.get(), "btnSavePlan");
  plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 2u);
  EXPECT_NE(plans[1].ID, plans[0].ID);
  EXPECT_EQ(plans[1].ID.size(), 38u);
  EXPECT_EQ(plans[1].BackupType, "sql");
  EXPECT_FALSE(plans[1].AutoRun);
  EXPECT_TRUE(plans[1].CleanupFailedFiles);
  EXPECT_EQ(plans[1].FailedFileRetentionHours, 24);

  Press(form.get(), "btnSavePlan");
  EXPECT_EQ(prompts.LastMessage(), "Plan adi zorunlu.");

  In<QListWidget>(form.get(), "lbPlans")->setCurrentRow(0);
  prompts.AnswerConfirm(true);
  Press(form.get(), "btnDeletePlan");
  plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].Name, "Yeni");
}

TEST_F(SettingsTest, RunNowRespectsTheMainWindowsGuard) {
  TBackupPlanStore(Env()).SavePlans({FullSqlPlan()});
  bool busy = true;
  int runs = 0;
  desktop::TSettingsHooks hooks;
  hooks.OperationRunning = [&] { return busy; };
  hooks.RunPlan = [&](const std::string&, std::string& Message) {
    ++runs;
    Message = "tamam";
    return true;
  };
  auto form = Settings(hooks);
  In<QListWidget>(form.get(), "lbPlans")->setCurrentRow(0);
  Press(form.get(), "btnRunPlan");
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(prompts.LastMessage(), "Devam eden bir islem var.");
  busy = false;
  Press(form.get(), "btnRunPlan");
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(prompts.LastMessage(), "Yedekleme baslatildi: tamam");
}

TEST_F(SettingsTest, ServiceButtons) {
  SetServiceState("none");
  test::WriteFile(GetServiceExePath(Env()), "x");
  auto form = Settings();
  EXPECT_EQ(TextOf(form.get(), "lblServiceStatusValue"), "Kurulu değil");
  EXPECT_EQ(TextOf(form.get(), "lblServicePath").rfind("Servis dosyasi: ", 0), 0u);
  Press(form.get(), "btnServiceInstall");
  EXPECT_EQ(prompts.LastMessage(), "Servis kuruldu: ");
  Press(form.get(), "btnServiceStart");
  EXPECT_EQ(prompts.LastMessage(), "Servis baslatildi: ");
  EXPECT_EQ(TextOf(form.get(), "lblServiceStatusValue"), "Çalışıyor");
  SetServiceState("deny");
  Press(form.get(), "btnServiceStop");
  EXPECT_EQ(prompts.LastMessage().rfind("Hata: ", 0), 0u);
  EXPECT_EQ(TextOf(form.get(), "lblServiceStatusValue").rfind("Hata: ", 0), 0u);
}

TEST_F(SettingsTest, GbakPickerStartsInDebiansFolder) {
  auto form = Settings();
  Press(form.get(), "chkEnableFirebird");
  SetText(form.get(), "edFBGBackPath", "");
  ASSERT_TRUE(Enabled(form.get(), "btnBrowseFBGBackPath"));
  prompts.AnswerFolder("/usr/bin/gbak");
  Press(form.get(), "btnBrowseFBGBackPath");
  ASSERT_EQ(prompts.PickerStarts().size(), 1u);
  EXPECT_EQ(prompts.PickerStarts().back().substr(0, 9), "/usr/bin|");
  EXPECT_EQ(prompts.PickerStarts().back().find(".exe"), std::string::npos);
  EXPECT_EQ(S(In<QLineEdit>(form.get(), "edFBGBackPath")->text()), "/usr/bin/gbak");
}

}  // namespace
}  // namespace calvora
