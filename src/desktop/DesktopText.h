#pragma once
// The texts the main window shows, made without any widget: schedule and
// storage sizes, the plan details rows, the activity lines, the transfer
// label. Numbers with decimals use the user's locale separator.
#include "foundation/DateTime.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"
#include "plans/uPlanDefaults.h"

#include <QString>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace calvora::desktop {

inline constexpr const char kApplicationTitle[] = "Orvane Bulut Yedekleme";

inline QString Q(const std::string& Text) { return QString::fromStdString(Text); }
inline std::string S(const QString& Text) { return Text.toStdString(); }

// "Gunluk hh:nn", "Haftalik hh:nn", "%d dk" for daily, weekly and periodic
// plans (type compared ignoring case); "Manuel" without AutoRun and for a
// type the schedule rules do not know, since such a plan never falls due.
std::string FormatScheduleText(const TBackupPlan& Plan);
// "1023 B", "1.0 KB", "1.5 MB", "2.0 GB", "1.0 TB" (powers of 1024).
std::string FormatStorageSize(std::int64_t Bytes);
// "dd.MM.yyyy hh:nn"; "-" for 0.
std::string FormatDashboardTime(TDateTime Value);

// The plan's caption in the list: the name, + " (Pasif)" when disabled.
std::string PlanListCaption(const TBackupPlan& Plan);
using TDetailRows = std::vector<std::pair<std::string, std::string>>;
TDetailRows PlanDetailRows(const TBackupPlan& Plan);
// Newest first: "dd.MM hh:nn  Title  Details".
std::vector<std::string> ActivityLines(const TPlanActivitySnapshot& Activity);
// Type, target and schedule joined by "  •  ", and the current stage.
std::string SelectedPlanMeta(const TBackupPlan& Plan, const std::string& CurrentStage);

// The transfer band for a progress report: bar position 0..1000 and
// "<Caption>: 42.5%", or "<Caption>: hazirlaniyor" without a total.
struct TTransferProgress {
  int Position = 0;
  std::string Label;
};
TTransferProgress TransferProgress(const std::string& Caption, std::int64_t BytesSent, std::int64_t TotalBytes);

// The quota card: value text and bar position 0..1000.
struct TQuotaCard {
  std::string Value;
  int Position = 0;
};
TQuotaCard QuotaCardFor(std::int64_t UsedBytes, std::int64_t LimitBytes);

}  // namespace calvora::desktop
