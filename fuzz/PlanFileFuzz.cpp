// The plan file reader on any file: it fails only with the system's own
// errors, and what a load gives is exactly what the next save keeps.
#include "FuzzSupport.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "plans/uBackupPlans.h"

#include <cstdio>

namespace {

std::string Moment(calvora::TDateTime value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string Fields(const calvora::TBackupPlan& p) {
  std::string out;
  for (const std::string& value :
       {p.ID, p.Name, p.Description, std::to_string(p.Enabled), p.BackupType, p.DatabaseName, p.SourceFolder,
        p.TempDirectory, p.DriveSubFolder, std::to_string(p.AutoRun), p.ScheduleType, p.ScheduleTime, p.WeeklyDays,
        std::to_string(p.IntervalMinutes), std::to_string(p.RunOnServiceStart), std::to_string(p.UseCompression),
        std::to_string(p.UseRarEncryption), p.RarPassword, std::to_string(p.RarSplitVolumeMB),
        p.ReportEmailAddresses, std::to_string(p.DeleteLocalAfterUpload), std::to_string(p.LocalBackupRetentionDays),
        std::to_string(p.UploadRetryCount), std::to_string(p.CleanupFailedFiles),
        std::to_string(p.FailedFileRetentionHours), std::to_string(p.EnableDifferential),
        std::to_string(p.FullBackupIntervalMinutes), Moment(p.LastFullBackupAt), Moment(p.LastRunAt), p.LastStatus,
        p.LastMessage, p.LastBackupFile})
    out += value + '\x1f';
  return out;
}

std::string AllFields(const std::vector<calvora::TBackupPlan>& plans) {
  std::string out;
  for (const auto& plan : plans) out += Fields(plan) + '\x1e';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  const std::string dir = fuzz::ScratchDir() + "/plans";
  ForceDirectories(dir);
  DeleteFileIfExists(dir + "/config.ini");
  WriteTextFile(dir + "/backupplans.json", fuzz::Bytes(data, size), false);
  TBackupPlanStore store(dir);
  std::vector<TBackupPlan> loaded;
  try {
    loaded = store.LoadPlans();
  } catch (const EAppError&) {
    return 0;  // a refused file: the documented errors
  }
  store.SavePlans(loaded);
  fuzz::Check(AllFields(store.LoadPlans()) == AllFields(loaded), "a save and a load changed the plans");
  return 0;
}
