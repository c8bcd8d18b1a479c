#pragma once
// The plan runner: runs the due plans of one service tick, or one plan end
// to end: the engine's backup, the outcome written into the plan, the plan
// file merged without losing edits saved meanwhile, the activity record,
// the account directory's last-run stamp and the report mail.
//
// Errors while loading or saving the plan file reach the caller.
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"

#include <functional>
#include <string>

namespace calvora {

inline constexpr const char kPlanStatusSuccess[] = "Başarılı";
inline constexpr const char kPlanStatusFailed[] = "Hatalı";

class TBackupPlanRunner {
 public:
  // Runs one plan's backup: success, the backup file and the message.
  using TBackupFunction = std::function<bool(TBackupPlan& Plan, const TUploadProgress& Progress,
                                             std::string& BackupFile, std::string& Message)>;

  // Backup empty: a backup engine (TCloudBackupService) per run.
  explicit TBackupPlanRunner(TEnv& Env, TBackupFunction Backup = nullptr);

  // Runs every plan that is due, in file order, each evaluated at the moment
  // its turn comes; the number of plans run.
  int RunDuePlans(TDateTime ServiceStartedAt);
  bool RunBackupPlan(TBackupPlan& Plan, const TUploadProgress& Progress = nullptr);
  bool RunBackupPlanById(const std::string& PlanID, std::string& Message,
                         const TUploadProgress& Progress = nullptr);

 private:
  TEnv& FEnv;
  TBackupFunction FBackup;
};

// The same operations with the backup engine.
int RunDuePlans(TEnv& Env, TDateTime ServiceStartedAt);
bool RunBackupPlan(TEnv& Env, TBackupPlan& Plan, const TUploadProgress& Progress = nullptr);
bool RunBackupPlanById(TEnv& Env, const std::string& PlanID, std::string& Message,
                       const TUploadProgress& Progress = nullptr);

}  // namespace calvora
