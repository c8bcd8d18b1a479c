#pragma once
// The settings window ("Ayarlar"): the cloud root folder and authorisation
// port, the SQL Server and Firebird connections with their tests, a compact
// list editor for plans and the service controls. Only "Tamam" writes the
// configuration; the plans tab writes the plan store at once, one change on
// a fresh load so the service's run fields survive.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"
#include "foundation/uAppConfig.h"
#include "plans/uBackupPlans.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace calvora::desktop {

// What the main window lends: its single-operation guard around a run.
struct TSettingsHooks {
  // True while the main window runs or downloads something.
  std::function<bool()> OperationRunning;
  // Runs the plan (synchronously) under the main window's guard.
  std::function<bool(const std::string& PlanID, std::string& Message)> RunPlan;
};

class TSettingsForm : public QDialog {
  Q_OBJECT
 public:
  // Where Debian installs the Firebird tools.
  static constexpr const char* kGbakFolder = "/usr/bin";

  TSettingsForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent = nullptr, TSettingsHooks Hooks = {});
  ~TSettingsForm() override;

  void btnOKClick();
  void btnOpenLogClick();
  TMSSQLBackupConfig ReadSqlTab() const;
  TFirebirdBackupConfig ReadFirebirdTab() const;
  void LoadPlanList();
  void ClearPlanForm();
  void ShowPlan(int Index);
  void SavePlanClick();
  void DeletePlanClick();
  void RunPlanClick();
  void RefreshServiceState();

 private:
  QWidget* BuildCloudTab();
  QWidget* BuildSqlTab();
  QWidget* BuildFirebirdTab();
  QWidget* BuildPlansTab();
  QWidget* BuildServiceTab();
  void ApplySqlEnableRule();
  void ApplyFirebirdEnableRule();
  void TestSqlClick();
  void TestFirebirdClick();
  void BrowseGbakClick();
  void ServiceOperation(bool (*Operation)(TEnv&, std::string&), const char* SuccessText);

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  TSettingsHooks FHooks;
  std::unique_ptr<TBackupPlanStore> FPlanStore;
  std::vector<TBackupPlan> FPlans;
  int FSelectedPlanIndex = -1;
  std::string FLoadedClientID, FLoadedClientSecret;

  QTabWidget* pcSettings = nullptr;
  QLineEdit *edClientID = nullptr, *edClientSecret = nullptr, *edRootFolderID = nullptr, *edAuthPort = nullptr;
  QCheckBox* chkEnableBackup = nullptr;
  QLineEdit *edServer = nullptr, *edUserName = nullptr, *edPassword = nullptr, *edBackupDir = nullptr;
  QPushButton* btnTestBackup = nullptr;
  QCheckBox* chkEnableFirebird = nullptr;
  QLineEdit *edFBServer = nullptr, *edFBPort = nullptr, *edFBUserName = nullptr, *edFBPassword = nullptr,
            *edFBGBackPath = nullptr, *edFBBackupDir = nullptr;
  QPushButton *btnBrowseFBGBackPath = nullptr, *btnTestFirebird = nullptr;
  QListWidget* lbPlans = nullptr;
  QLabel* lblPlanDb = nullptr;
  QLineEdit *edPlanName = nullptr, *edPlanDb = nullptr, *edPlanDrive = nullptr, *edPlanInterval = nullptr,
            *edPlanRetention = nullptr;
  QCheckBox *chkPlanEnabled = nullptr, *chkPlanRunOnStart = nullptr, *chkPlanCompression = nullptr,
            *chkPlanDeleteLocal = nullptr;
  QLabel *lblPlanLastRun = nullptr, *lblPlanLastStatus = nullptr, *lblPlanLastFile = nullptr;
  QPlainTextEdit* memPlanMessage = nullptr;
  QLabel *lblServiceStatusValue = nullptr, *lblServicePath = nullptr;
};

}  // namespace calvora::desktop
