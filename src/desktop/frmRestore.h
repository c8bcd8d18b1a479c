#pragma once
// The restore tool's window: a guided walk from a plan to one of its
// backups on Drive, a version of it (current or an older revision), the
// target (a new database file, a database name, a folder) and the restore
// itself with progress and a final message. The restore runs on a worker
// thread; its progress and result come back as queued calls.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"
#include "restore/uRestore.h"

#include <QWidget>

#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace calvora::desktop {

class TRestoreForm : public QWidget {
  Q_OBJECT
 public:
  enum TStep { StepPlan, StepBackup, StepVersion, StepTarget, StepRestore };

  TRestoreForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent = nullptr);
  ~TRestoreForm() override;

  // Fetches the plan list from Drive (the first step's content).
  void LoadPlans();
  TStep Step() const;
  // Waits for a restore under way and delivers its result.
  void WaitForRestore();
  const TRestoreResult& LastResult() const { return FLastResult; }

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  void BuildWidgets();
  void ShowStep(TStep Step);
  void Next();
  void Back();
  bool EnterBackups();
  bool EnterVersions();
  void EnterTarget();
  void PickTarget();
  void StartRestore(bool ReplaceExisting);
  void RestoreFinished(const TRestoreResult& Result, bool ReplaceExisting);
  void ProgressArrived(const TRestoreProgress& Progress);
  bool WholeFolderChosen() const;
  const TRestorePlan& ChosenPlan() const;

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  std::unique_ptr<TRestoreService> FRestore;
  std::vector<TRestorePlan> FPlans;
  std::vector<TRestoreBackup> FBackups;
  std::vector<TRestoreVersion> FVersions;
  TRestoreRequest FRequest;
  TRestoreResult FLastResult;
  std::thread FWorker;
  bool FRunning = false;

  QLabel* FTitle = nullptr;
  QStackedWidget* FPages = nullptr;
  QListWidget* FPlanList = nullptr;
  QListWidget* FBackupList = nullptr;
  QListWidget* FVersionList = nullptr;
  QLabel* FTargetHint = nullptr;
  QLineEdit* FTarget = nullptr;
  QPushButton* FBrowse = nullptr;
  QLineEdit* FDatabase = nullptr;
  QLabel* FDatabaseLabel = nullptr;
  QLineEdit* FPassword = nullptr;
  QLabel* FPasswordLabel = nullptr;
  QCheckBox* FReplace = nullptr;
  QLabel* FSummary = nullptr;
  QProgressBar* FProgress = nullptr;
  QLabel* FStatus = nullptr;
  QPushButton* FBackButton = nullptr;
  QPushButton* FNextButton = nullptr;
  QPushButton* FCloseButton = nullptr;
};

// The restore program: the log, a sign-in when this machine has none, then
// the window until it closes.
int RunRestoreProgram(int argc, char** argv);

}  // namespace calvora::desktop
