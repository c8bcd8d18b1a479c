#pragma once
// The main window: the plans with their details, live state and recent
// events, a dashboard of five cards, the service's state and the cloud
// storage in use, and every action on plans. Long operations (a manual run,
// the download of a plan's backups, the update check) and everything that
// reaches the cloud during a refresh run on worker threads and report back
// through queued calls; the window itself never waits for the network.
#include "accountdrive/uFirebaseAccountAuth.h"
#include "desktop/DesktopPalette.h"
#include "desktop/DesktopPrompts.h"
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"
#include "service/uAppUpdater.h"
#include "service/uServiceManager.h"

#include <QMainWindow>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace calvora::desktop {

// What the window hands to other windows and long operations; each empty
// member means the real one. Tests put stand-ins here.
struct TMainFormHooks {
  // The task editor on a plan; true when the user saved.
  std::function<bool(TBackupPlan& Plan)> EditPlan;
  // The modal settings window.
  std::function<void()> ShowSettings;
  std::function<void(const std::string& InitialPlanID)> OpenMonitor;
  std::function<void(const TBackupPlan& Plan)> OpenDriveFiles;
  // Runs on a worker thread.
  std::function<bool(const std::string& PlanID, std::string& Message, const TUploadProgress& Progress)> RunPlan;
  std::function<bool(const TBackupPlan& Plan, const std::string& DestDir, std::string& Message,
                     const TUploadProgress& Progress)>
      DownloadPlan;
  // The running executable (the update check compares and replaces it).
  std::string ExePath;
};

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // How long a re-check of the saved sign-in stays fresh.
  static constexpr int kSignInCheckSeconds = 60;
  static constexpr int kActivityTimerMs = 4000;

  TMainForm(TEnv& Env, TDesktopPrompts& Prompts, TMainFormHooks Hooks = {}, QWidget* Parent = nullptr);
  ~TMainForm() override;

  // --- refreshes (user-interface thread)
  void RefreshPlanList();
  void UpdatePlanDetails();
  void UpdateSelectedPlanHeader();
  void UpdateActivityMemo();
  void UpdateDashboard();
  void UpdateServiceStatusPanel();
  void UpdateDriveQuotaCard();
  void UpdateStatusBar();
  void RefreshBackgroundIndicator();

  // --- background operations
  void StartUpdateCheck(bool Manual);
  bool OperationRunning() const { return FOperationRunning; }
  bool UpdateCheckRunning() const { return FUpdateCheckRunning; }
  // Handles events until every worker this window started has ended and
  // its completion has run; false when Ms passed first.
  bool WaitForWorkers(int Ms);

  const std::vector<TBackupPlan>& Plans() const { return FPlans; }
  int SelectedPlanIndex() const { return FSelectedPlanIndex; }

 signals:
  // The window was closed; the program ends with it.
  void Closed();

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  // --- layout (frmMain.cpp)
  void BuildWindow();
  void BuildMenu();
  QWidget* BuildHero();
  QWidget* BuildToolBar();
  QWidget* BuildSummary();
  QWidget* BuildBody();
  QWidget* BuildTransferBand();
  void BuildStatusBar();
  QFrame* AddCard(QWidget* Row, const char* Name, const char* Caption);
  QLabel* CardValue(const char* Name) const;

  // --- selection and refresh helpers (frmMain.Refresh.cpp)
  bool TryGetSelectedPlan(TBackupPlan& Plan) const;
  bool TryGetSelectedActivity(TPlanActivitySnapshot& Activity) const;
  void ListViewFilesSelectItem();
  void SetServicePanel(const std::string& Value, const palette::TServicePanelColours& Look);
  void ApplyQuotaResult(const std::string& Value, int Position);
  void CheckSavedSignInIfDue();
  void ApplySignInCheck(TSavedSignInCheck Outcome, const std::string& Message);
  std::string AccountStatusText() const;

  // --- actions (frmMain.Actions.cpp)
  void ToolButton1Click();  // + Yeni
  void ToolButton2Click();  // Duzenle
  void ToolButton4Click();  // Yenile
  void ToolButton6Click();  // Ayarlar (toolbar and menu)
  void ToolButton7Click();  // Monitor
  void DeletePlanClick();
  void ServiceStateClick();
  void RestoreToolClick();
  void ListViewFilesDblClick();
  void SelectPlanById(const std::string& PlanID);

  // --- background operations (frmMain.Background.cpp)
  void ToolButton3Click();  // Baslat
  void DownloadBackupsClick();
  void BeginOperation(const std::string& Text);
  void EndOperation();
  void ShowTransferProgress(const std::string& Caption, std::int64_t BytesSent, std::int64_t TotalBytes);
  TUploadProgress ProgressHandler(const std::string& Caption);
  void OfferUpdate(const TUpdateInfo& Info);
  void ApplyUpdate(const TUpdateInfo& Info);
  // Runs Work on a worker; Done runs on the user-interface thread afterwards
  // with the text of the exception Work ended with (empty when none).
  void StartWorker(const std::string& LogContext, std::function<void()> Work,
                   std::function<void(const std::string& Error)> Done);

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  TMainFormHooks FHooks;
  std::unique_ptr<TBackupPlanStore> FPlanStore;
  std::vector<TBackupPlan> FPlans;
  int FSelectedPlanIndex = -1;
  std::string FPendingSelectID;  // selected by the next RefreshPlanList
  bool FOperationRunning = false;
  bool FUpdateCheckRunning = false;
  bool FQuotaReadRunning = false;
  bool FQuotaReadAgain = false;
  bool FQuotaShown = false;
  bool FSignInCheckRunning = false;
  bool FSignInUnreachable = false;
  bool FClosing = false;
  int FWorkersInFlight = 0;  // started and not yet completed on this thread
  TDateTime FLastSignInCheck = 0;
  std::optional<TUpdateInfo> FPendingUpdate;  // found while an operation ran
  QTimer* FActivityTimer = nullptr;

  // controls, named as the window's objects
  QAction* miCheckUpdates = nullptr;
  QAction* miExit = nullptr;
  QAction* miSettings = nullptr;
  QFrame* PanelHero = nullptr;
  QFrame* PanelServiceStatus = nullptr;
  QLabel* lblServiceStatusTitle = nullptr;
  QLabel* lblServiceStatusValue = nullptr;
  std::vector<QToolButton*> FLockedButtons;  // disabled while an operation runs
  QProgressBar* ProgressDriveQuota = nullptr;
  QLabel* lblDriveQuotaHint = nullptr;
  QTreeWidget* ListViewFiles = nullptr;
  QTreeWidget* ListViewVersions = nullptr;
  QLabel* lblSelectedPlan = nullptr;
  QLabel* lblSelectedMeta = nullptr;
  QPlainTextEdit* MemoActivity = nullptr;
  QFrame* PanelTransfer = nullptr;
  QLabel* lblTransferProgress = nullptr;
  QProgressBar* ProgressTransfer = nullptr;
  QLabel* FStatusPanels[3] = {nullptr, nullptr, nullptr};

  // Last member: destroyed first, after every worker has ended.
  QThreadPool FWorkers;
};

}  // namespace calvora::desktop
