// The checks before a plan is saved: each one fails alone with its own text,
// and when several fail the first in order wins.
#include "plans/uPlanValidation.h"

#include <gtest/gtest.h>

#include <functional>

namespace calvora {
namespace {

TBackupPlan ValidSqlPlan() {
  TBackupPlan plan;
  plan.Name = "Gece";
  plan.BackupType = "sql";
  plan.DatabaseName = "Muhasebe";
  plan.ScheduleType = "periodic";
  plan.IntervalMinutes = 60;
  return plan;
}

TBackupPlan OfType(const char* Type) {
  TBackupPlan plan = ValidSqlPlan();
  plan.BackupType = Type;
  plan.DatabaseName = "/veri/muhasebe.fdb";
  plan.SourceFolder = "/veri";
  plan.TempDirectory = "/yedek";
  return plan;
}

TEST(PlanValidation, EachCheckFailsWithItsOwnText) {
  struct Case {
    const char* name;
    std::function<TBackupPlan()> make;
    std::string expected;
  } cases[] = {
      {"valid sql", [] { return ValidSqlPlan(); }, ""},
      {"valid folder", [] { return OfType("folder"); }, ""},
      {"valid firebird", [] { return OfType("Firebird "); }, ""},
      {"blank name", [] { auto p = ValidSqlPlan(); p.Name = "  "; return p; }, "Gorev adi zorunlu."},
      {"separators only", [] { auto p = ValidSqlPlan(); p.DatabaseName = " ; \r\n"; return p; },
       "En az bir veritabani secin."},
      {"folder without source", [] { auto p = OfType("folder"); p.SourceFolder = " "; return p; },
       "Kaynak klasor zorunlu."},
      {"folder needs no database", [] { auto p = OfType("folder"); p.DatabaseName.clear(); return p; }, ""},
      {"firebird without path", [] { auto p = OfType("firebird"); p.DatabaseName = ""; return p; },
       "Firebird veritabani yolu zorunlu."},
      {"firebird without work folder", [] { auto p = OfType("firebird"); p.TempDirectory = " "; return p; },
       "Backup klasoru zorunlu."},
      {"periodic zero", [] { auto p = ValidSqlPlan(); p.IntervalMinutes = 0; return p; },
       "Periyodik zamanlama icin dakika degeri 0'dan buyuk olmali."},
      {"unknown schedule counts as periodic", [] { auto p = ValidSqlPlan(); p.ScheduleType = "x"; p.IntervalMinutes = -1; return p; },
       "Periyodik zamanlama icin dakika degeri 0'dan buyuk olmali."},
      {"daily ignores the period", [] { auto p = ValidSqlPlan(); p.ScheduleType = "Daily"; p.IntervalMinutes = 0; return p; }, ""},
      {"retention below zero", [] { auto p = ValidSqlPlan(); p.LocalBackupRetentionDays = -1; return p; },
       "Yerel saklama suresi 0 veya daha buyuk olmali."},
      {"retries below zero", [] { auto p = ValidSqlPlan(); p.UploadRetryCount = -1; return p; },
       "Ek upload deneme sayisi 0 veya daha buyuk olmali."},
      {"cleanup hours zero", [] { auto p = ValidSqlPlan(); p.CleanupFailedFiles = true; p.FailedFileRetentionHours = 0; return p; },
       "Temizlik suresi 0'dan buyuk olmali."},
      {"hours ignored without cleanup", [] { auto p = ValidSqlPlan(); p.CleanupFailedFiles = false; p.FailedFileRetentionHours = 0; return p; }, ""},
      {"weekly without a day", [] { auto p = ValidSqlPlan(); p.ScheduleType = "weekly"; p.WeeklyDays = ""; return p; },
       "Haftalik zamanlama icin en az bir gun secin."},
      {"weekly with days out of range only", [] { auto p = ValidSqlPlan(); p.ScheduleType = "weekly"; p.WeeklyDays = "0,8,x"; return p; },
       "Haftalik zamanlama icin en az bir gun secin."},
      {"daily without a day", [] { auto p = ValidSqlPlan(); p.ScheduleType = "daily"; return p; }, ""},
      {"encrypted with blank password", [] { auto p = ValidSqlPlan(); p.UseRarEncryption = true; p.RarPassword = "  "; return p; },
       kRarPasswordRequired},
      {"encrypted with password", [] { auto p = ValidSqlPlan(); p.UseRarEncryption = true; p.RarPassword = " s "; return p; }, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ValidatePlanForSave(c.make()), c.expected) << c.name;
}

TEST(PlanValidation, FirstFailingCheckInOrderWins) {
  // Every check fails; removing the reported fault exposes the next one.
  TBackupPlan plan = OfType("firebird");
  plan.Name = "";
  plan.DatabaseName = "";
  plan.TempDirectory = "";
  plan.ScheduleType = "weekly";
  plan.LocalBackupRetentionDays = -1;
  plan.UploadRetryCount = -1;
  plan.CleanupFailedFiles = true;
  plan.FailedFileRetentionHours = 0;
  plan.UseRarEncryption = true;
  const std::vector<std::pair<std::string, std::function<void(TBackupPlan&)>>> order = {
      {"Gorev adi zorunlu.", [](TBackupPlan& p) { p.Name = "Gece"; }},
      {"Firebird veritabani yolu zorunlu.", [](TBackupPlan& p) { p.DatabaseName = "/veri/a.fdb"; }},
      {"Backup klasoru zorunlu.", [](TBackupPlan& p) { p.TempDirectory = "/yedek"; }},
      {"Yerel saklama suresi 0 veya daha buyuk olmali.", [](TBackupPlan& p) { p.LocalBackupRetentionDays = 0; }},
      {"Ek upload deneme sayisi 0 veya daha buyuk olmali.", [](TBackupPlan& p) { p.UploadRetryCount = 0; }},
      {"Temizlik suresi 0'dan buyuk olmali.", [](TBackupPlan& p) { p.FailedFileRetentionHours = 24; }},
      {"Haftalik zamanlama icin en az bir gun secin.", [](TBackupPlan& p) { p.WeeklyDays = "2, 4"; }},
      {kRarPasswordRequired, [](TBackupPlan& p) { p.RarPassword = "s"; }},
      {"", [](TBackupPlan&) {}},
  };
  for (const auto& [text, mend] : order) {
    EXPECT_EQ(ValidatePlanForSave(plan), text);
    mend(plan);
  }
}

TEST(PlanValidation, NumbersAndDays) {
  EXPECT_EQ(PlanNumberOr(" 42 ", 7), 42);
  EXPECT_EQ(PlanNumberOr("-5", 7), -5);
  EXPECT_EQ(PlanNumberOr("abc", 7), 7);
  EXPECT_EQ(PlanNumberOr("", -1), -1);
  EXPECT_EQ(NormalizeWeeklyDays("6, 2,x,4,9,2"), "2,4,6");
  EXPECT_EQ(NormalizeWeeklyDays(" "), "");
}

}  // namespace
}  // namespace calvora
