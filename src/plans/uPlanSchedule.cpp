#include "plans/uPlanSchedule.h"

#include "foundation/TextUtil.h"

#include <cmath>

namespace calvora {
namespace {

// Moments compared on whole milliseconds, so a time of day added to a date
// equals the same moment built any other way.
long long Ms(TDateTime value) { return std::llround(value * 86400000.0); }

}  // namespace

TDateTime ParseScheduleTime(const std::string& Text) {
  const TDateTime fallback = EncodeDateTime(1899, 12, 30, 2, 0, 0);
  const std::string text = Trim(Text);
  if (text.empty()) return fallback;
  TDateTime time = 0;
  return TryParseRegionalTime(text, time) ? time : fallback;
}

bool WeeklyDaysContain(const TBackupPlan& Plan, int Day) {
  if (Trim(Plan.WeeklyDays).empty()) return false;
  for (const std::string& item : Split(Plan.WeeklyDays, ',')) {
    int number = 0;
    if (!TryParseInt(Trim(item), number)) number = 0;
    if (number == Day) return true;
  }
  return false;
}

bool IsPlanDue(const TBackupPlan& Plan, TDateTime ServiceStartedAt, const TClock& Clock) {
  if (!Plan.Enabled || !Plan.AutoRun) return false;
  const TDateTime now = Clock.Now();

  if (SameText(Plan.ScheduleType, "periodic")) {
    if (Plan.IntervalMinutes <= 0) return false;
    if (Plan.LastRunAt > 0) return MinutesBetween(now, Plan.LastRunAt) >= Plan.IntervalMinutes;
    if (Plan.RunOnServiceStart) return true;
    return MinutesBetween(now, ServiceStartedAt) >= Plan.IntervalMinutes;
  }

  const TDateTime scheduled = DateOf(now) + ParseScheduleTime(Plan.ScheduleTime);
  const bool ranToday = Plan.LastRunAt > 0 && Ms(Plan.LastRunAt) >= Ms(scheduled);
  const bool timeReached = Ms(scheduled) <= Ms(now);
  if (SameText(Plan.ScheduleType, "daily")) return timeReached && !ranToday;
  if (SameText(Plan.ScheduleType, "weekly"))
    return WeeklyDaysContain(Plan, DayOfWeek(now)) && timeReached && !ranToday;
  return false;
}

}  // namespace calvora
