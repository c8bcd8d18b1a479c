#pragma once
// Whether a plan is due: pure rules over the plan, the current local time
// and the moment the service started. Nothing is read or written.
#include "foundation/Clock.h"
#include "foundation/DateTime.h"
#include "plans/uBackupPlans.h"

#include <string>

namespace calvora {

// The time of day of a schedule text such as "02:00" (seconds optional);
// 02:00 for empty or unreadable text.
TDateTime ParseScheduleTime(const std::string& Text);
// WeeklyDays ("2, 4,6"; 1 = Sunday ... 7 = Saturday) holds `Day`.
bool WeeklyDaysContain(const TBackupPlan& Plan, int Day);
// "periodic": IntervalMinutes since the last run (or since the service
// started, or at once with RunOnServiceStart, while it never ran);
// "daily"/"weekly": today's scheduled moment has passed and the plan has not
// run since. Disabled or non-AutoRun plans are never due.
bool IsPlanDue(const TBackupPlan& Plan, TDateTime ServiceStartedAt,
               const TClock& Clock = SystemClock());

}  // namespace calvora
