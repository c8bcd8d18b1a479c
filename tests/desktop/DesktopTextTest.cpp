#include "desktop/DesktopText.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

using namespace desktop;

TEST(DesktopText, ScheduleTextsAndStorageSizes) {
  struct Schedule {
    bool autoRun;
    const char* type;
    const char* time;
    int interval;
    const char* text;
  } schedules[] = {
      {true, "daily", "02:00", 60, "Gunluk 02:00"},
      {true, "WEEKLY", "23:30", 60, "Haftalik 23:30"},
      {true, "periodic", "02:00", 60, "60 dk"},
      {true, "Periodic", "", 15, "15 dk"},
      {false, "daily", "02:00", 60, "Manuel"},
      {false, "periodic", "", 60, "Manuel"},
      // Never due by the schedule rules, so not shown as an interval.
      {true, "", "02:00", 60, "Manuel"},
      {true, "monthly", "02:00", 60, "Manuel"},
  };
  for (const auto& s : schedules) {
    TBackupPlan plan;
    plan.AutoRun = s.autoRun;
    plan.ScheduleType = s.type;
    plan.ScheduleTime = s.time;
    plan.IntervalMinutes = s.interval;
    EXPECT_EQ(FormatScheduleText(plan), s.text) << s.type;
  }

  struct Size {
    std::int64_t bytes;
    const char* text;
  } sizes[] = {{0, "0 B"},
               {1023, "1023 B"},
               {1024, "1.0 KB"},
               {1536 * 1024, "1.5 MB"},
               {(1LL << 30) * 2, "2.0 GB"},
               {1LL << 40, "1.0 TB"},
               {-5, "-5 B"}};
  for (const auto& s : sizes) EXPECT_EQ(FormatStorageSize(s.bytes), s.text) << s.bytes;

  EXPECT_EQ(QuotaCardFor(3 << 20, 0).Value, "3.0 MB kullaniliyor");
  EXPECT_EQ(QuotaCardFor(3 << 20, 0).Position, 0);
  EXPECT_EQ(QuotaCardFor(3 << 20, 2 << 20).Value, "3.0 MB / 2.0 MB");
  EXPECT_EQ(QuotaCardFor(3 << 20, 2 << 20).Position, 1000);
  EXPECT_EQ(QuotaCardFor(1, 3).Position, 333);
  EXPECT_EQ(FormatDashboardTime(EncodeDateTime(2024, 1, 2, 3, 4, 5)), "02.01.2024 03:04");
  EXPECT_EQ(FormatDashboardTime(0), "-");
}

TEST(DesktopText, TransferLabelAndBarForEveryKindOfReport) {
  struct Case {
    std::int64_t sent, total;
    const char* label;
    int position;
  } cases[] = {{0, 0, "Yukleme: hazirlaniyor", 0},
               {7, -1, "Yukleme: hazirlaniyor", 0},
               {425, 1000, "Yukleme: 42.5%", 425},
               {1, 3, "Yukleme: 33.3%", 333},
               {5000, 1000, "Yukleme: 500.0%", 1000}};
  for (const auto& c : cases) {
    const TTransferProgress p = TransferProgress("Yukleme", c.sent, c.total);
    EXPECT_EQ(p.Label, c.label);
    EXPECT_EQ(p.Position, c.position);
  }
}

}  // namespace
}  // namespace calvora
