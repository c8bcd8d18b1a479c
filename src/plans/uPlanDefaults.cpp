#include "plans/uPlanDefaults.h"

namespace calvora {

TBackupPlan EmptyPlan() {
  TBackupPlan p;
  p.BackupType.clear();
  p.ScheduleType.clear();
  p.ScheduleTime.clear();
  p.IntervalMinutes = 0;
  p.UseCompression = false;
  p.RarSplitVolumeMB = 0;
  p.UploadRetryCount = 0;
  p.CleanupFailedFiles = false;
  p.FailedFileRetentionHours = 0;
  p.FullBackupIntervalMinutes = 0;
  return p;
}

TBackupPlan NewPlanDefaults() {
  TBackupPlan plan = EmptyPlan();
  plan.Enabled = true;
  plan.BackupType = "sql";
  plan.AutoRun = true;
  plan.RunOnServiceStart = true;
  plan.UseCompression = true;
  plan.DeleteLocalAfterUpload = true;
  plan.UseRarEncryption = false;
  plan.LocalBackupRetentionDays = 0;
  plan.UploadRetryCount = 2;
  plan.CleanupFailedFiles = true;
  plan.FailedFileRetentionHours = 24;
  plan.IntervalMinutes = 60;
  plan.ScheduleType = "periodic";
  plan.ScheduleTime = "02:00";
  return plan;
}

}  // namespace calvora
