#include "cli/CliMonitor.h"

#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "runner/uBackupPlanRunner.h"

namespace calvora::cli {

std::string ActivityStateText(const TPlanActivitySnapshot& Activity) {
  if (SameText(Activity.CurrentState, "running")) return "Calisiyor";
  if (SameText(Activity.CurrentState, "success")) return "Tamam";
  if (SameText(Activity.CurrentState, "failed")) return "Hata";
  return Activity.IsRunning ? "Calisiyor" : "Hazir";
}

std::string UploadStatusText(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity) {
  if (Activity.UploadCompleted) return "Tamamlandi";
  if (Activity.IsRunning && ContainsText(Activity.CurrentStage, "Upload")) return "Suruyor";
  if (Plan.LastStatus == kPlanStatusFailed || SameText(Activity.CurrentState, "failed")) return "Hata";
  if (!Plan.LastBackupFile.empty()) return "Bekleniyor";
  return "Yok";
}

std::string RelativeTimeText(TDateTime Value, TDateTime Now) {
  if (Value <= 0) return "-";
  const std::int64_t m = MinutesBetween(Value, Now);
  if (m == 0) return "simdi";
  if (m < 60) return Fmt("%d dk", m);
  if (m < 1440) return Fmt("%d sa", m / 60);
  return Fmt("%d gun", m / 1440);
}

std::string AbsoluteTimeText(TDateTime Value) { return Value <= 0 ? "-" : FormatRegionalDateTime(Value); }

std::string PlanListState(const TBackupPlan& Plan, const TPlanActivitySnapshot* Activity) {
  if (Activity) return ActivityStateText(*Activity);
  return Plan.Enabled ? "Hazir" : "Pasif";
}

TDateTime LastFinishedAt(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity) {
  return Activity.LastCompletedAt > 0 ? Activity.LastCompletedAt : Plan.LastRunAt;
}

namespace {

std::string OrDash(const std::string& Text) { return Text.empty() ? "-" : Text; }

std::string MonitorScheduleText(const TBackupPlan& Plan) {
  if (!Plan.AutoRun) return "Manuel";
  if (SameText(Plan.ScheduleType, "periodic")) return Fmt("%d dk", Plan.IntervalMinutes);
  return Plan.ScheduleType + " " + Plan.ScheduleTime;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> MonitorDetailRows(const TBackupPlan& Plan,
                                                                    const TPlanActivitySnapshot& Activity,
                                                                    const std::string& ServiceText) {
  const TDateTime finish = LastFinishedAt(Plan, Activity);
  std::string lastFile = Plan.LastBackupFile.empty() ? Activity.LastBackupFile : Plan.LastBackupFile;
  std::string message = Activity.LastMessage.empty() ? Plan.LastMessage : Activity.LastMessage;
  std::vector<std::pair<std::string, std::string>> rows = {
      {"Plan", Plan.Name},
      {"Backup Turu", BackupTypeDisplayName(Plan)},
      {"Kaynak", PlanSourceText(Plan)},
      {"Zamanlama", MonitorScheduleText(Plan)},
      {"Anlik Asama", OrDash(Activity.CurrentStage)},
      {"Son Baslama", AbsoluteTimeText(Activity.LastStartedAt)},
      {"Son Tamamlanma", AbsoluteTimeText(finish)},
      {"Upload Durumu", UploadStatusText(Plan, Activity)},
      {"Aktif Dosya", OrDash(Activity.ActiveFile)},
      {"Son Backup Dosyasi", OrDash(lastFile)},
      {"Son Sonuc", Plan.LastStatus.empty() ? ActivityStateText(Activity) : Plan.LastStatus},
      {"Mesaj", OrDash(message)},
      {"Yerel Saklama",
       Plan.LocalBackupRetentionDays >= 1 ? Fmt("%d gun", Plan.LocalBackupRetentionDays) : std::string("Kapali")},
      {"Servis Durumu", ServiceText},
  };
  if (Activity.RecentEvents.empty()) rows.emplace_back("Hareketler", "Bu plan icin henuz hareket kaydi yok.");
  return rows;
}

}  // namespace calvora::cli
