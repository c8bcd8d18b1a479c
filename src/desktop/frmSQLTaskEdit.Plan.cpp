// The task editor's behaviour: the type and schedule rules, the plan
// mappings, the checks before saving and the database list.
#include "desktop/frmSQLTaskEdit.h"

#include "desktop/DesktopText.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "plans/uPlanSchedule.h"
#include "plans/uPlanValidation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimeEdit>

#include <cmath>

namespace calvora::desktop {
namespace {

enum { kTypeSql = 0, kTypeFolder = 1, kTypeFirebird = 2 };
enum { kPeriodic = 0, kDaily = 1, kWeekly = 2 };
enum { kMinutes = 0, kHours = 1, kDays = 2 };

std::string Trimmed(const QLineEdit* Edit) { return Trim(S(Edit->text())); }

void EnableOrClear(QCheckBox* Box, bool Enabled) {
  Box->setEnabled(Enabled);
  if (!Enabled) Box->setChecked(false);
}

// Writes Mapped's field into Plan unless it equals what the controls showed
// after loading; then Plan keeps its own value.
template <typename T>
void TakeChanged(TBackupPlan& Plan, const TBackupPlan& Mapped, const TBackupPlan& Loaded, T TBackupPlan::*Field) {
  if (Mapped.*Field != Loaded.*Field) Plan.*Field = Mapped.*Field;
}

}  // namespace

// ---------------------------------------------------------------- rules

void TSQLTaskEditForm::ApplyTypeRules() {
  const int type = cmbBackupType->currentIndex();
  const bool sql = type == kTypeSql, folder = type == kTypeFolder, firebird = type == kTypeFirebird;
  lblTitle->setText(sql ? "SQL Yedekleme Gorevi" : folder ? "Klasor Yedekleme Gorevi" : "Firebird Yedekleme Gorevi");
  lblTempDirInfo->setText(sql      ? ".bak dosyalarinin olusacagi klasor"
                          : folder ? "Buluta oldugu gibi yuklenecek kaynak klasor"
                                   : ".fbk dosyalarinin olusacagi klasor");
  lblDataSource->setText(sql      ? "Veritabanlari"
                         : folder ? "Kaynak Ozeti"
                                  : "Firebird Veritabani Yolu veya Klasoru (klasor girilirse icindeki tum "
                                    ".fdb/.gdb/.ib dosyalari yedeklenir)");
  edtDatabase->setVisible(firebird);
  edtDatabase->setEnabled(firebird);
  clbDatabases->setVisible(!firebird);
  clbDatabases->setEnabled(sql);
  btnLoadDatabases->setEnabled(sql);
  btnSelectAllDatabases->setEnabled(sql);
  lblReportEmails->setEnabled(true);
  edtReportEmails->setEnabled(true);

  EnableOrClear(chkCompression, sql);
  EnableOrClear(chkDifferential, sql);
  EnableOrClear(chkRarEncryption, sql);
  EnableOrClear(chkDeleteLocal, !folder);
  const bool fullPeriod = sql && chkDifferential->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{lblFullInterval, edtFullInterval, cmbFullIntervalUnit})
    w->setEnabled(fullPeriod);
  const bool password = sql && chkRarEncryption->isChecked();
  lblRarPassword->setEnabled(password);
  edtRarPassword->setEnabled(password);
  if (!sql) edtRarPassword->clear();
  lblRarSplitMB->setEnabled(!folder);
  edtRarSplitMB->setEnabled(!folder);
}

void TSQLTaskEditForm::ApplyScheduleRules() {
  const int schedule = cmbScheduleType->currentIndex();
  const bool automatic = chkAutoRun->isChecked();
  edtInterval->setEnabled(automatic && schedule == kPeriodic);
  timePicker->setEnabled(automatic && (schedule == kDaily || schedule == kWeekly));
  for (QCheckBox* day : FDayChecks) day->setEnabled(automatic && schedule == kWeekly);
}

// ---------------------------------------------------------------- databases

std::string TSQLTaskEditForm::GetSelectedDatabases() const {
  std::vector<std::string> names;
  for (int i = 0; i < clbDatabases->count(); ++i)
    if (clbDatabases->item(i)->checkState() == Qt::Checked) names.push_back(S(clbDatabases->item(i)->text()));
  return names.empty() ? Trimmed(edtDatabase) : Join(names, ";");
}

void TSQLTaskEditForm::CheckDatabases(const std::string& Text) {
  for (int i = 0; i < clbDatabases->count(); ++i) clbDatabases->item(i)->setCheckState(Qt::Unchecked);
  for (const std::string& piece : Split(ReplaceAll(Text, "\r\n", ";"), ';')) {
    const std::string name = Trim(piece);
    for (int i = 0; i < clbDatabases->count(); ++i)
      if (SameText(S(clbDatabases->item(i)->text()), name)) {
        clbDatabases->item(i)->setCheckState(Qt::Checked);
        break;
      }
  }
}

namespace {

void FillDatabaseList(QListWidget* List, const std::vector<std::string>& Names) {
  List->clear();
  for (const std::string& name : Names) {
    auto* item = new QListWidgetItem(Q(name), List);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
  }
}

}  // namespace

void TSQLTaskEditForm::LoadDatabasesClick() {
  const std::string selected = GetSelectedDatabases();
  std::vector<std::string> names;
  std::string error;
  bool listed = false;
  try {
    TCloudBackupService engine(FEnv.Config().GetMSSQLBackupConfig(), FEnv);
    listed = engine.ListDatabases(names, error);
  } catch (const std::exception& e) {
    LogException("Veritabani listesi alinamadi", e);
    error = e.what();
  }
  if (!listed) {
    // The list stays as it was; the user can type on.
    FPrompts.Message(this, TMessageKind::Error, error);
    return;
  }
  FillDatabaseList(clbDatabases, names);
  CheckDatabases(selected);
  if (clbDatabases->count() == 0)
    FPrompts.Message(this, TMessageKind::Information, "SQL Server uzerinde kullanici veritabani bulunamadi.");
}

void TSQLTaskEditForm::SelectAllDatabasesClick() {
  for (int i = 0; i < clbDatabases->count(); ++i) clbDatabases->item(i)->setCheckState(Qt::Checked);
}

void TSQLTaskEditForm::BrowseClick() {
  const std::string current = Trimmed(edtTempDir);
  const std::string folder = FPrompts.PickFolder(this, "Backup klasorunu secin", current);
  if (!folder.empty()) edtTempDir->setText(Q(folder));
}

// ---------------------------------------------------------------- load

void TSQLTaskEditForm::LoadPlan(const TBackupPlan& Plan) {
  FPlanID = Plan.ID;
  FLoadedPlan = Plan;
  const std::string type = NormalizeBackupType(Plan.BackupType);
  cmbBackupType->setCurrentIndex(type == "folder" ? kTypeFolder : type == "firebird" ? kTypeFirebird : kTypeSql);
  edtName->setText(Q(Plan.Name));
  memDescription->setPlainText(Q(Plan.Description));

  clbDatabases->clear();
  if (type == "folder") {
    edtTempDir->setText(Q(Plan.SourceFolder));
    edtDatabase->clear();
  } else {
    edtTempDir->setText(Q(Plan.TempDirectory));
    edtDatabase->setText(Q(Plan.DatabaseName));
    // Trimmed names, so "A; B" opens as A and B, both checked.
    if (type == "sql" && !Plan.DatabaseName.empty()) {
      FillDatabaseList(clbDatabases, PlanDatabaseList(Plan));
      CheckDatabases(Plan.DatabaseName);
    }
  }
  edtDriveFolder->setText(Q(Plan.DriveSubFolder));
  edtReportEmails->setText(Q(Plan.ReportEmailAddresses));

  chkEnabled->setChecked(Plan.Enabled);
  chkAutoRun->setChecked(Plan.AutoRun);
  chkRunOnStart->setChecked(Plan.RunOnServiceStart);
  chkCompression->setChecked(Plan.UseCompression);
  chkDifferential->setChecked(Plan.EnableDifferential);

  const int minutes = Plan.FullBackupIntervalMinutes;
  if (minutes % 1440 == 0) {
    edtFullInterval->setText(QString::number(minutes / 1440));
    cmbFullIntervalUnit->setCurrentIndex(kDays);
  } else if (minutes % 60 != 0) {
    edtFullInterval->setText(QString::number(minutes));
    cmbFullIntervalUnit->setCurrentIndex(kMinutes);
  } else {
    edtFullInterval->setText(QString::number(minutes / 60));
    cmbFullIntervalUnit->setCurrentIndex(kHours);
  }

  chkRarEncryption->setChecked(Plan.UseRarEncryption);
  edtRarPassword->setText(Q(Plan.RarPassword));
  edtRarSplitMB->setText(QString::number(Plan.RarSplitVolumeMB < 0 ? 1024 : Plan.RarSplitVolumeMB));
  chkDeleteLocal->setChecked(Plan.DeleteLocalAfterUpload);
  edtLocalRetention->setText(QString::number(Plan.LocalBackupRetentionDays < 0 ? 0 : Plan.LocalBackupRetentionDays));
  edtUploadRetry->setText(QString::number(Plan.UploadRetryCount < 0 ? 2 : Plan.UploadRetryCount));
  chkCleanupFailed->setChecked(Plan.CleanupFailedFiles);
  edtFailedRetention->setText(
      QString::number(Plan.FailedFileRetentionHours > 0 ? Plan.FailedFileRetentionHours : 24));

  const std::string schedule = Trim(Plan.ScheduleType);
  cmbScheduleType->setCurrentIndex(SameText(schedule, "daily")    ? kDaily
                                   : SameText(schedule, "weekly") ? kWeekly
                                                                  : kPeriodic);
  edtInterval->setText(QString::number(Plan.IntervalMinutes));
  const int clock = static_cast<int>(std::lround(ParseScheduleTime(Plan.ScheduleTime) * 1440.0)) % 1440;
  timePicker->setTime(QTime(clock / 60, clock % 60));

  for (QCheckBox* day : FDayChecks) day->setChecked(false);
  if (!IsBlank(Plan.WeeklyDays))
    for (const std::string& piece : Split(Plan.WeeklyDays, ',')) {
      const int day = PlanNumberOr(piece, 0);
      if (day >= 1 && day <= 7) FDayChecks[day - 1]->setChecked(true);
    }

  ApplyTypeRules();
  ApplyScheduleRules();
  FLoadedControls = Plan;
  ControlsToPlan(FLoadedControls, false);
}

// ---------------------------------------------------------------- save

std::string TSQLTaskEditForm::WeeklyDaysText() const {
  std::string days;
  for (int d = 1; d <= 7; ++d)
    if (FDayChecks[d - 1]->isChecked()) days += (days.empty() ? "" : ",") + std::to_string(d);
  return days;
}

void TSQLTaskEditForm::ControlsToPlan(TBackupPlan& Plan, bool ForCheck) const {
  const int type = cmbBackupType->currentIndex();
  Plan.ID = FPlanID;
  Plan.BackupType = type == kTypeFolder ? "folder" : type == kTypeFirebird ? "firebird" : "sql";
  Plan.Name = Trimmed(edtName);
  Plan.Description = Trim(S(memDescription->toPlainText()));
  // Recipients are kept for every type: the report mail goes out for all.
  Plan.ReportEmailAddresses = Trimmed(edtReportEmails);
  if (type == kTypeFolder) {
    Plan.SourceFolder = Trimmed(edtTempDir);
    Plan.DatabaseName.clear();
    Plan.TempDirectory.clear();
    Plan.RarPassword.clear();
    Plan.UseCompression = Plan.UseRarEncryption = Plan.DeleteLocalAfterUpload = false;
  } else if (type == kTypeFirebird) {
    Plan.TempDirectory = Trimmed(edtTempDir);
    Plan.DatabaseName = Trimmed(edtDatabase);
    Plan.SourceFolder.clear();
    Plan.RarPassword.clear();
    Plan.UseCompression = Plan.UseRarEncryption = Plan.EnableDifferential = false;
    Plan.DeleteLocalAfterUpload = chkDeleteLocal->isChecked();
  } else {
    Plan.TempDirectory = Trimmed(edtTempDir);
    Plan.DatabaseName = GetSelectedDatabases();
    Plan.SourceFolder.clear();
    Plan.UseCompression = chkCompression->isChecked();
    Plan.EnableDifferential = chkDifferential->isChecked();
    const int factor[] = {1, 60, 1440};
    Plan.FullBackupIntervalMinutes = PlanNumberOr(S(edtFullInterval->text()), 30) *
                                     factor[std::max(0, cmbFullIntervalUnit->currentIndex())];
    Plan.UseRarEncryption = chkRarEncryption->isChecked();
    Plan.RarPassword = Plan.UseRarEncryption ? S(edtRarPassword->text()) : std::string();
    Plan.DeleteLocalAfterUpload = chkDeleteLocal->isChecked();
  }
  Plan.DriveSubFolder = Trimmed(edtDriveFolder);
  Plan.Enabled = chkEnabled->isChecked();
  Plan.AutoRun = chkAutoRun->isChecked();
  Plan.RunOnServiceStart = chkRunOnStart->isChecked();
  Plan.RarSplitVolumeMB = std::max(0, PlanNumberOr(S(edtRarSplitMB->text()), 1024));
  Plan.LocalBackupRetentionDays = PlanNumberOr(S(edtLocalRetention->text()), ForCheck ? -1 : 0);
  Plan.UploadRetryCount = PlanNumberOr(S(edtUploadRetry->text()), ForCheck ? -1 : 2);
  Plan.CleanupFailedFiles = chkCleanupFailed->isChecked();
  Plan.FailedFileRetentionHours = PlanNumberOr(S(edtFailedRetention->text()), ForCheck ? 0 : 24);
  const int schedule = cmbScheduleType->currentIndex();
  Plan.ScheduleType = schedule == kDaily ? "daily" : schedule == kWeekly ? "weekly" : "periodic";
  Plan.IntervalMinutes = PlanNumberOr(S(edtInterval->text()), ForCheck ? 0 : 60);
  Plan.ScheduleTime = S(timePicker->time().toString("HH:mm"));
  Plan.WeeklyDays = WeeklyDaysText();
}

void TSQLTaskEditForm::SaveToPlan(TBackupPlan& Plan) const {
  TBackupPlan mapped = Plan;
  ControlsToPlan(mapped, false);
  Plan.ID = FPlanID;
  for (auto field : {&TBackupPlan::Name, &TBackupPlan::Description, &TBackupPlan::BackupType,
                     &TBackupPlan::DatabaseName, &TBackupPlan::SourceFolder, &TBackupPlan::TempDirectory,
                     &TBackupPlan::DriveSubFolder, &TBackupPlan::ScheduleType, &TBackupPlan::ScheduleTime,
                     &TBackupPlan::WeeklyDays, &TBackupPlan::RarPassword, &TBackupPlan::ReportEmailAddresses})
    TakeChanged(Plan, mapped, FLoadedControls, field);
  for (auto field : {&TBackupPlan::Enabled, &TBackupPlan::AutoRun, &TBackupPlan::RunOnServiceStart,
                     &TBackupPlan::UseCompression, &TBackupPlan::UseRarEncryption,
                     &TBackupPlan::DeleteLocalAfterUpload, &TBackupPlan::CleanupFailedFiles,
                     &TBackupPlan::EnableDifferential})
    TakeChanged(Plan, mapped, FLoadedControls, field);
  for (auto field : {&TBackupPlan::IntervalMinutes, &TBackupPlan::RarSplitVolumeMB,
                     &TBackupPlan::LocalBackupRetentionDays, &TBackupPlan::UploadRetryCount,
                     &TBackupPlan::FailedFileRetentionHours, &TBackupPlan::FullBackupIntervalMinutes})
    TakeChanged(Plan, mapped, FLoadedControls, field);
}

bool TSQLTaskEditForm::ValidateInput() {
  TBackupPlan candidate = FLoadedPlan;
  ControlsToPlan(candidate, true);
  const std::string failure = ValidatePlanForSave(candidate);
  if (failure.empty()) return true;
  FPrompts.Message(this, TMessageKind::Warning, failure);
  return false;
}

}  // namespace calvora::desktop
