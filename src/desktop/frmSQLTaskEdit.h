#pragma once
// The task editor: creates or edits one backup plan of any type. This
// first form covers the name, the type, the source and the Drive folder;
// the schedule, archive, retention and report settings join it later and
// keep their values meanwhile. The editor never touches the plan store.
#include "foundation/Env.h"
#include "plans/uBackupPlans.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

namespace calvora::desktop {

class TSQLTaskEditForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSQLTaskEditForm(TEnv& Env, QWidget* Parent = nullptr);

  // Edits Plan in a modal window; true (and Plan holding the input) when
  // the user saved.
  static bool Execute(TEnv& Env, TBackupPlan& Plan, QWidget* Parent = nullptr);

  void LoadPlan(const TBackupPlan& Plan);
  // Checks the input; false with the reason shown in the window.
  bool ValidateInput();
  void SavePlan(TBackupPlan& Plan) const;

 private:
  void BuildControls();
  void BackupTypeChanged();
  std::string SelectedBackupType() const;

  TEnv& FEnv;
  QLineEdit* edtName = nullptr;
  QComboBox* cmbBackupType = nullptr;
  QLabel* lblDataSource = nullptr;
  QLineEdit* edtDatabase = nullptr;
  QLineEdit* edtDriveFolder = nullptr;
  QLabel* lblError = nullptr;
};

}  // namespace calvora::desktop
