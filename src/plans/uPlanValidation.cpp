#include "plans/uPlanValidation.h"

#include "foundation/TextUtil.h"

#include <set>

namespace calvora {
namespace {

bool IsWeekly(const TBackupPlan& Plan) { return SameText(Trim(Plan.ScheduleType), "weekly"); }
bool IsPeriodic(const TBackupPlan& Plan) { return !IsWeekly(Plan) && !SameText(Trim(Plan.ScheduleType), "daily"); }

}  // namespace

int PlanNumberOr(const std::string& Text, int Default) {
  int value = 0;
  return TryParseInt(Trim(Text), value) ? value : Default;
}

std::string NormalizeWeeklyDays(const std::string& WeeklyDays) {
  std::set<int> days;
  if (!IsBlank(WeeklyDays))
    for (const std::string& piece : Split(WeeklyDays, ',')) {
      const int day = PlanNumberOr(piece, 0);
      if (day >= 1 && day <= 7) days.insert(day);
    }
  std::string text;
  for (int day : days) text += (text.empty() ? "" : ",") + std::to_string(day);
  return text;
}

std::string ValidatePlanForSave(const TBackupPlan& Plan) {
  const bool folder = IsFolderPlan(Plan);
  const bool firebird = IsFirebirdPlan(Plan);
  const bool sql = !folder && !firebird;
  if (IsBlank(Plan.Name)) return "Gorev adi zorunlu.";
  if (sql && PlanDatabaseList(Plan).empty()) return "En az bir veritabani secin.";
  if (folder && IsBlank(Plan.SourceFolder)) return "Kaynak klasor zorunlu.";
  if (firebird && IsBlank(Plan.DatabaseName)) return "Firebird veritabani yolu zorunlu.";
  if (firebird && IsBlank(Plan.TempDirectory)) return "Backup klasoru zorunlu.";
  if (IsPeriodic(Plan) && Plan.IntervalMinutes <= 0)
    return "Periyodik zamanlama icin dakika degeri 0'dan buyuk olmali.";
  if (Plan.LocalBackupRetentionDays < 0) return "Yerel saklama suresi 0 veya daha buyuk olmali.";
  if (Plan.UploadRetryCount < 0) return "Ek upload deneme sayisi 0 veya daha buyuk olmali.";
  if (Plan.CleanupFailedFiles && Plan.FailedFileRetentionHours <= 0) return "Temizlik suresi 0'dan buyuk olmali.";
  if (IsWeekly(Plan) && NormalizeWeeklyDays(Plan.WeeklyDays).empty())
    return "Haftalik zamanlama icin en az bir gun secin.";
  if (Plan.UseRarEncryption && IsBlank(Plan.RarPassword)) return kRarPasswordRequired;
  return {};
}

}  // namespace calvora
