#pragma once
// The plan monitor: every plan with its live state, and for the selected
// one four status cards, the details and the recent events, re-read every
// 4 seconds whoever runs the plans. It only reads the plan and activity
// files and asks the service manager; it writes nothing.
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include <QWidget>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QFrame;
class QLabel;
class QTimer;
class QTreeWidget;

namespace calvora::desktop {

// --- the monitor's texts, made without any widget
// "Calisiyor", "Tamam", "Hata" for the stored state (any case); otherwise
// "Calisiyor" while running, else "Hazir".
std::string MonitorStateText(const TPlanActivitySnapshot& Activity);
// "Tamamlandi", "Suruyor", "Hata", "Bekleniyor" or "Yok", first rule that holds.
std::string MonitorUploadStatus(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity);
// "-", "simdi", "N dk", "N sa", "N gun" between Value and Now.
std::string MonitorRelativeTime(TDateTime Value, TDateTime Now);
// "-" or the regional date-time.
std::string MonitorAbsoluteTime(TDateTime Value);
// "Manuel", "%d dk" for periodic plans, else the stored type and time.
std::string MonitorScheduleText(const TBackupPlan& Plan);
// The plan's record (PlanID ignoring case), or an all-empty one.
TPlanActivitySnapshot MonitorActivityFor(const TBackupPlan& Plan, const std::vector<TPlanActivitySnapshot>& All);

class TPlanMonitorForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 4000;

  TPlanMonitorForm(TEnv& Env, const std::string& InitialPlanID, QWidget* Parent = nullptr);
  ~TPlanMonitorForm() override;

  // A new non-modal window showing InitialPlanID (empty: the first plan) in
  // detail. Every call opens another one; each is freed when closed, its
  // timer with it, so a closed monitor reads nothing any more.
  static TPlanMonitorForm* OpenMonitor(TEnv& Env, const std::string& InitialPlanID);

  // Reads the plan and activity files again and rebuilds every list.
  void Reload();

  const std::string& SelectedPlanID() const { return FSelectedPlanID; }
  const QTimer* RefreshTimer() const { return FRefreshTimer; }

 private:
  void BuildWindow();
  QWidget* BuildHeader();
  QWidget* BuildLeft();
  QWidget* BuildRight();
  QFrame* AddCard(QWidget* Row, const char* Name, const char* Caption, QLabel*& Value, QLabel*& Hint);
  void FillPlanList();
  void FillDetails();
  void FillSelectedPlan(const TBackupPlan& Plan, const std::string& ServiceText, int RunningCount);
  void FillNoSelection(const std::string& ServiceText, int RunningCount);
  void AddDetail(const std::string& Field, const std::string& Value);
  void PlansViewSelectionChanged();

  TEnv& FEnv;
  std::unique_ptr<TBackupPlanStore> FPlanStore;
  std::vector<TBackupPlan> FPlans;
  std::vector<TPlanActivitySnapshot> FActivities;
  std::string FSelectedPlanID;
  bool FFilling = false;

  QTimer* FRefreshTimer = nullptr;
  QTreeWidget* FPlansView = nullptr;
  QTreeWidget* FDetailsView = nullptr;
  QTreeWidget* FEventsView = nullptr;
  QLabel* FCardStateValue = nullptr;
  QLabel* FCardStateHint = nullptr;
  QLabel* FCardLastRunValue = nullptr;
  QLabel* FCardLastRunHint = nullptr;
  QLabel* FCardUploadValue = nullptr;
  QLabel* FCardUploadHint = nullptr;
  QLabel* FCardServiceValue = nullptr;
  QLabel* FCardServiceHint = nullptr;
};

}  // namespace calvora::desktop
