#pragma once
// The checks a plan passes before it is saved, shared by the desktop's task
// editor and command-line tools so both refuse the same input with the same
// words. No user interface here: callers show the text themselves.
#include "plans/uBackupPlans.h"

#include <string>

namespace calvora {

// Runs the checks in this order and returns the exact user text of the
// first one that fails, or an empty text when the plan may be saved:
//  1. "Gorev adi zorunlu."                         trimmed Name empty
//  2. "En az bir veritabani secin."                SQL plan, PlanDatabaseList empty
//  3. "Kaynak klasor zorunlu."                     folder plan, trimmed SourceFolder empty
//  4. "Firebird veritabani yolu zorunlu."          Firebird plan, trimmed DatabaseName empty
//  5. "Backup klasoru zorunlu."                    Firebird plan, trimmed TempDirectory empty
//  6. "Periyodik zamanlama icin dakika degeri 0'dan buyuk olmali."
//                                                  periodic schedule, IntervalMinutes <= 0
//  7. "Yerel saklama suresi 0 veya daha buyuk olmali."  LocalBackupRetentionDays < 0
//  8. "Ek upload deneme sayisi 0 veya daha buyuk olmali."  UploadRetryCount < 0
//  9. "Temizlik suresi 0'dan buyuk olmali."        CleanupFailedFiles, FailedFileRetentionHours <= 0
// 10. "Haftalik zamanlama icin en az bir gun secin."  weekly schedule, no day 1..7 in WeeklyDays
// 11. kRarPasswordRequired                         UseRarEncryption with a blank RarPassword
// The plan type is read as NormalizeBackupType does; a ScheduleType other
// than "daily" or "weekly" (any case) counts as periodic, as the editor
// opens it. Callers that read numbers from text pass the value a text that
// cannot be read stands for (PlanNumberOr).
std::string ValidatePlanForSave(const TBackupPlan& Plan);

// The text of check 11: an archive marked encrypted must have a password,
// or it would go up unencrypted while the plan says otherwise.
inline constexpr const char kRarPasswordRequired[] = "RAR sifreleme secili iken RAR sifresi zorunlu.";

// The trimmed text read as a whole number, or Default when it is not one.
int PlanNumberOr(const std::string& Text, int Default);

// The ascending day numbers 1..7 the comma-separated text names, joined by
// "," without blanks; unreadable pieces and numbers outside 1..7 dropped.
std::string NormalizeWeeklyDays(const std::string& WeeklyDays);

}  // namespace calvora
