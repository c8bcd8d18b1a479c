#include "runner/uBackupPlanRunner.h"

#include "account/uFirebaseServiceStatus.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "plans/uPlanActivityStore.h"
#include "plans/uPlanSchedule.h"
#include "reporting/uBackupReportMailer.h"

#include <memory>

namespace calvora {

TBackupPlanRunner::TBackupPlanRunner(TEnv& Env, TBackupFunction Backup) : FEnv(Env), FBackup(std::move(Backup)) {}

int TBackupPlanRunner::RunDuePlans(TDateTime ServiceStartedAt) {
  TBackupPlanStore store(FEnv);
  std::vector<TBackupPlan> plans = store.LoadPlans();
  int count = 0;
  for (TBackupPlan& plan : plans) {
    // Asked when its turn comes, so a plan that fell due while an earlier
    // one ran is taken in this pass.
    if (!IsPlanDue(plan, ServiceStartedAt, FEnv.Clock())) continue;
    RunBackupPlan(plan, nullptr);
    ++count;
  }
  return count;
}

bool TBackupPlanRunner::RunBackupPlan(TBackupPlan& Plan, const TUploadProgress& Progress) {
  TBackupPlanStore store(FEnv);
  std::unique_ptr<TCloudBackupService> engine;
  if (!FBackup) {
    engine = std::make_unique<TCloudBackupService>(FEnv.Config().GetMSSQLBackupConfig(), FEnv);
    engine->SetOnUploadProgress(Progress);
  }

  const TDateTime startedAt = FEnv.Now();
  MarkPlanRunStarted(FEnv, Plan);
  LogInfoFmt("Backup plani calistiriliyor: %s (%s)", Plan.Name, Plan.ID);

  std::string backupFile, message;
  const bool success =
      engine ? engine->BackupPlan(Plan, backupFile, message) : FBackup(Plan, Progress, backupFile, message);

  const TDateTime endedAt = FEnv.Now();
  Plan.LastRunAt = endedAt;
  Plan.LastBackupFile = backupFile;
  if (success && !IsFolderPlan(Plan)) {
    if (!Plan.EnableDifferential || Plan.LastFullBackupAt <= 0 ||
        MinutesBetween(endedAt, Plan.LastFullBackupAt) >= Plan.FullBackupIntervalMinutes)
      Plan.LastFullBackupAt = endedAt;
  }
  Plan.LastStatus = success ? kPlanStatusSuccess : kPlanStatusFailed;
  Plan.LastMessage = message;

  MarkPlanRunFinished(FEnv, Plan, success, message, success, backupFile);

  std::string error;
  if (!ReportLastPlanRun(FEnv, error, endedAt))
    LogWarnFmt("Son plan gerceklestirme zamani Firebase'e yazilamadi: %s", error);

  // Merged into a fresh load, so edits saved while the plan ran survive.
  store.SavePlanRunFields(Plan);

  SendBackupReport(FEnv, Plan, success, message, endedAt, startedAt, backupFile);
  return success;
}

bool TBackupPlanRunner::RunBackupPlanById(const std::string& PlanID, std::string& Message,
                                          const TUploadProgress& Progress) {
  Message = "Plan bulunamadı.";
  std::vector<TBackupPlan> plans = TBackupPlanStore(FEnv).LoadPlans();
  for (TBackupPlan& plan : plans) {
    if (!SameText(plan.ID, PlanID)) continue;
    const bool success = RunBackupPlan(plan, Progress);
    Message = plan.LastMessage;
    return success;
  }
  return false;
}

int RunDuePlans(TEnv& Env, TDateTime ServiceStartedAt) { return TBackupPlanRunner(Env).RunDuePlans(ServiceStartedAt); }

bool RunBackupPlan(TEnv& Env, TBackupPlan& Plan, const TUploadProgress& Progress) {
  return TBackupPlanRunner(Env).RunBackupPlan(Plan, Progress);
}

bool RunBackupPlanById(TEnv& Env, const std::string& PlanID, std::string& Message, const TUploadProgress& Progress) {
  return TBackupPlanRunner(Env).RunBackupPlanById(PlanID, Message, Progress);
}

}  // namespace calvora
