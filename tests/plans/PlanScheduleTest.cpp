#include "plans/uPlanSchedule.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TBackupPlan Scheduled(const std::string& type) {
  TBackupPlan p;
  p.Enabled = true;
  p.AutoRun = true;
  p.ScheduleType = type;
  return p;
}

TEST(ScheduleTime, ParsesHoursAndMinutesElseTwoOClock) {
  const TDateTime two = EncodeDateTime(1899, 12, 30, 2, 0);
  struct Case {
    const char* text;
    TDateTime want;
  } cases[] = {{"02:00", two},
               {" 23:45\t", EncodeDateTime(1899, 12, 30, 23, 45)},
               {"7:05:30", EncodeDateTime(1899, 12, 30, 7, 5, 30)},
               {"2:5", EncodeDateTime(1899, 12, 30, 2, 5)},
               {"14:7:9", EncodeDateTime(1899, 12, 30, 14, 7, 9)},
               {"2:", two},
               {"", two},
               {"gece", two},
               {"25:00", two},
               {"12", two}};
  for (const auto& c : cases) EXPECT_EQ(MillisecondsBetween(ParseScheduleTime(c.text), c.want), 0) << c.text;
}

TEST(WeeklyDays, ItemsAreTrimmedNumbers) {
  TBackupPlan p;
  p.WeeklyDays = "2, 4,6";
  EXPECT_TRUE(WeeklyDaysContain(p, 2));
  EXPECT_TRUE(WeeklyDaysContain(p, 4));
  EXPECT_FALSE(WeeklyDaysContain(p, 1));
  p.WeeklyDays = "x,3";
  EXPECT_TRUE(WeeklyDaysContain(p, 0));  // an item that is no number counts as 0
  EXPECT_TRUE(WeeklyDaysContain(p, 3));
  p.WeeklyDays = "  ";
  EXPECT_FALSE(WeeklyDaysContain(p, 0));
}

class DueTest : public ::testing::Test {
 protected:
  // Tuesday 2024-03-05 10:00:00, the service started at 09:00.
  TDateTime At(int hour, int minute, int second = 0, int dayOffset = 0) const {
    return IncDays(EncodeDateTime(2024, 3, 5, hour, minute, second), dayOffset);
  }
  bool Due(const TBackupPlan& p) const { return IsPlanDue(p, serviceStarted, clock); }
  test::TFakeClock clock;
  TDateTime serviceStarted = EncodeDateTime(2024, 3, 5, 9, 0, 0);
};

TEST_F(DueTest, PeriodicCountsWholeMinutesSinceTheLastRun) {
  TBackupPlan p = Scheduled("periodic");
  p.IntervalMinutes = 60;
  p.LastRunAt = At(9, 0, 1);  // 59:59 ago
  EXPECT_FALSE(Due(p));
  p.LastRunAt = At(9, 0, 0);
  EXPECT_TRUE(Due(p));
  p.ScheduleType = "PERIODIC";
  EXPECT_TRUE(Due(p));
  for (int interval : {0, -5}) {
    p.IntervalMinutes = interval;
    EXPECT_FALSE(Due(p)) << interval;
  }
}

TEST_F(DueTest, PeriodicNeverRunWaitsFromServiceStartUnlessAskedToRunAtOnce) {
  TBackupPlan p = Scheduled("periodic");
  p.IntervalMinutes = 30;
  serviceStarted = At(10, 0);
  clock.Set(At(10, 29, 59));
  EXPECT_FALSE(Due(p));
  clock.Set(At(10, 30));
  EXPECT_TRUE(Due(p));
  clock.Set(At(10, 0, 30));
  p.RunOnServiceStart = true;
  EXPECT_TRUE(Due(p));
  p.LastRunAt = At(10, 0);  // once it has run, the flag no longer matters
  EXPECT_FALSE(Due(p));
}

TEST_F(DueTest, DailyRunsOnceAfterItsTimeAndCatchesUpTheSameDay) {
  TBackupPlan p = Scheduled("Daily");
  p.ScheduleTime = "02:00";
  p.LastRunAt = At(2, 0, 5, -1);  // yesterday
  clock.Set(At(9, 0));
  EXPECT_TRUE(Due(p));  // the 02:00 moment passed while the service was off
  p.LastRunAt = At(9, 1);
  clock.Set(At(23, 59, 59));
  EXPECT_FALSE(Due(p));
  clock.Set(At(1, 59, 59, 1));
  EXPECT_FALSE(Due(p));
  clock.Set(At(2, 0, 0, 1));
  EXPECT_TRUE(Due(p));

  p.ScheduleTime = "not a time";  // treated as 02:00
  p.LastRunAt = 0;
  clock.Set(At(1, 59));
  EXPECT_FALSE(Due(p));
  clock.Set(At(2, 0));
  EXPECT_TRUE(Due(p));
}

TEST_F(DueTest, WeeklyRunsOnListedDaysOnly) {
  TBackupPlan p = Scheduled("weekly");
  p.WeeklyDays = "2, 4,6";
  p.ScheduleTime = "08:00";
  clock.Set(EncodeDateTime(2024, 3, 4, 8, 30));  // Monday
  EXPECT_TRUE(Due(p));
  clock.Set(EncodeDateTime(2024, 3, 3, 8, 30));  // Sunday
  EXPECT_FALSE(Due(p));
  clock.Set(EncodeDateTime(2024, 3, 4, 7, 59));  // Monday, before the time
  EXPECT_FALSE(Due(p));
  p.WeeklyDays = "";
  clock.Set(EncodeDateTime(2024, 3, 4, 8, 30));
  EXPECT_FALSE(Due(p));
}

TEST_F(DueTest, DisabledNonAutoRunAndUnknownTypesAreNeverDue) {
  TBackupPlan p = Scheduled("periodic");
  p.RunOnServiceStart = true;
  EXPECT_TRUE(Due(p));
  p.AutoRun = false;
  EXPECT_FALSE(Due(p));
  p.AutoRun = true;
  p.Enabled = false;
  EXPECT_FALSE(Due(p));
  p.Enabled = true;
  for (const char* type : {"monthly", "", " daily"}) {
    p.ScheduleType = type;
    EXPECT_FALSE(Due(p)) << type;
  }
}

}  // namespace
}  // namespace calvora
