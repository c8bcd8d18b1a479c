#pragma once
// The task editor ("Yedekleme Gorevi"): creates or edits one backup plan of
// any type (SQL Server databases, a folder, Firebird databases). Switching
// the type relabels the form and enables or clears what applies to it. The
// editor checks the input with the core's plan checks, writes it back into
// the same record with its identifier unchanged and never touches the plan
// store. It asks the configured SQL Server for its databases on request.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"
#include "plans/uBackupPlans.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimeEdit;

namespace calvora::desktop {

class TSQLTaskEditForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMinWidth = 1080;
  static constexpr int kMinHeight = 900;

  TSQLTaskEditForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent = nullptr);

  // Edits Plan in a modal window; Plan changes only when the user saved.
  static bool Execute(TEnv& Env, TDesktopPrompts& Prompts, TBackupPlan& Plan, QWidget* Parent = nullptr);

  void LoadPlan(const TBackupPlan& Plan);
  // Writes the controls into Plan. A field whose controls still show what
  // LoadPlan put there keeps the value the loaded plan had, so an unchanged
  // save gives back the same record (list spelling, fields of other types).
  void SaveToPlan(TBackupPlan& Plan) const;
  // The plan checks in order; false with the first failure shown in a
  // warning box.
  bool ValidateInput();

  // The checked databases in list order joined by ";"; without any, the
  // trimmed database path.
  std::string GetSelectedDatabases() const;
  // Checks the list items the ";"- or line-separated names match (trimmed,
  // any case); clears every other check.
  void CheckDatabases(const std::string& Text);

  void ApplyTypeRules();
  void ApplyScheduleRules();
  void BrowseClick();
  void LoadDatabasesClick();
  void SelectAllDatabasesClick();

 private:
  // --- layout (frmSQLTaskEdit.cpp)
  void BuildControls();
  QWidget* BuildContent();
  QLineEdit* NewEdit(const char* Name, QWidget* Parent);
  QCheckBox* NewCheck(const char* Name, const char* Caption, QWidget* Parent);

  // --- the plan (frmSQLTaskEdit.Plan.cpp)
  // The spec mapping of the controls into Plan; ForCheck reads unreadable
  // numbers as the values the checks refuse.
  void ControlsToPlan(TBackupPlan& Plan, bool ForCheck) const;
  std::string WeeklyDaysText() const;

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  std::string FPlanID;
  TBackupPlan FLoadedPlan;      // as LoadPlan received it
  TBackupPlan FLoadedControls;  // the controls right after LoadPlan, mapped

 private:
  // controls, named as the window's objects (tests find them by name)
  QLabel* lblTitle = nullptr;
  QLabel* lblHint = nullptr;
  QLineEdit* edtName = nullptr;
  QLabel* lblBackupType = nullptr;
  QComboBox* cmbBackupType = nullptr;
  QPlainTextEdit* memDescription = nullptr;
  QLabel* lblTempDirInfo = nullptr;
  QLineEdit* edtTempDir = nullptr;
  QPushButton* btnBrowse = nullptr;
  QLabel* lblDataSource = nullptr;
  QLineEdit* edtDatabase = nullptr;
  QListWidget* clbDatabases = nullptr;
  QPushButton* btnLoadDatabases = nullptr;
  QPushButton* btnSelectAllDatabases = nullptr;
  QLineEdit* edtDriveFolder = nullptr;
  QLabel* lblReportEmails = nullptr;
  QLineEdit* edtReportEmails = nullptr;
  QCheckBox* chkEnabled = nullptr;
  QCheckBox* chkCompression = nullptr;
  QCheckBox* chkDifferential = nullptr;
  QCheckBox* chkDeleteLocal = nullptr;
  QCheckBox* chkRarEncryption = nullptr;
  QLabel* lblFullInterval = nullptr;
  QLineEdit* edtFullInterval = nullptr;
  QComboBox* cmbFullIntervalUnit = nullptr;
  QLabel* lblRarPassword = nullptr;
  QLineEdit* edtRarPassword = nullptr;
  QLabel* lblRarSplitMB = nullptr;
  QLineEdit* edtRarSplitMB = nullptr;
  QLineEdit* edtUploadRetry = nullptr;
  QLineEdit* edtLocalRetention = nullptr;
  QCheckBox* chkCleanupFailed = nullptr;
  QLineEdit* edtFailedRetention = nullptr;
  QCheckBox* chkAutoRun = nullptr;
  QCheckBox* chkRunOnStart = nullptr;
  QComboBox* cmbScheduleType = nullptr;
  QLineEdit* edtInterval = nullptr;
  QTimeEdit* timePicker = nullptr;
  std::vector<QCheckBox*> FDayChecks;  // 1 = Sunday ("Paz") ... 7 = Saturday ("Cmt")
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

}  // namespace calvora::desktop
