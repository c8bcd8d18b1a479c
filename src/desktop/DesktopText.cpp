#include "desktop/DesktopText.h"

#include "foundation/Format.h"
#include "foundation/TextUtil.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace calvora::desktop {
namespace {

std::string OneDecimal(double Value) { return S(QLocale().toString(Value, 'f', 1)); }

std::string OrDash(const std::string& Text) { return IsBlank(Text) ? std::string("-") : Text; }

const char* YesNo(bool Value) { return Value ? "Evet" : "Hayir"; }
const char* OnOff(bool Value) { return Value ? "Acik" : "Kapali"; }

std::string TwoDigits(int Value) { return Fmt("%02d", Value); }

}  // namespace

std::string FormatScheduleText(const TBackupPlan& Plan) {
  if (!Plan.AutoRun) return "Manuel";
  if (SameText(Plan.ScheduleType, "daily")) return "Gunluk " + Plan.ScheduleTime;
  if (SameText(Plan.ScheduleType, "weekly")) return "Haftalik " + Plan.ScheduleTime;
  if (SameText(Plan.ScheduleType, "periodic")) return Fmt("%d dk", Plan.IntervalMinutes);
  return "Manuel";
}

std::string FormatStorageSize(std::int64_t Bytes) {
  constexpr double KB = 1024.0, MB = KB * 1024, GB = MB * 1024, TB = GB * 1024;
  const double n = static_cast<double>(Bytes);
  if (n >= TB) return OneDecimal(n / TB) + " TB";
  if (n >= GB) return OneDecimal(n / GB) + " GB";
  if (n >= MB) return OneDecimal(n / MB) + " MB";
  if (Bytes < 1024) return std::to_string(Bytes) + " B";
  return OneDecimal(n / KB) + " KB";
}

std::string FormatDashboardTime(TDateTime Value) {
  if (Value <= 0) return "-";
  const TDateTimeParts p = DecodeDateTime(Value);
  return TwoDigits(p.day) + "." + TwoDigits(p.month) + "." + std::to_string(p.year) + " " + TwoDigits(p.hour) + ":" +
         TwoDigits(p.minute);
}

std::string PlanListCaption(const TBackupPlan& Plan) { return Plan.Enabled ? Plan.Name : Plan.Name + " (Pasif)"; }

TDetailRows PlanDetailRows(const TBackupPlan& Plan) {
  const bool folder = IsFolderPlan(Plan);
  TDetailRows rows;
  rows.emplace_back("Gorev Adi", Plan.Name);
  rows.emplace_back("Backup Turu", BackupTypeDisplayName(Plan));
  rows.emplace_back("Aciklama", OrDash(Plan.Description));
  rows.emplace_back("Kaynak", PlanSourceText(Plan));
  if (folder)
    rows.emplace_back("Kaynak Klasor", OrDash(Plan.SourceFolder));
  else
    rows.emplace_back("Gecici Klasor",
                      IsBlank(Plan.TempDirectory) ? "(Genel ayar / SQL varsayilani)" : Plan.TempDirectory);
  rows.emplace_back("Bulut Alt Klasoru", OrDash(Plan.DriveSubFolder));
  rows.emplace_back("Zamanlama", FormatScheduleText(Plan));
  rows.emplace_back("Servis Acilisinda", YesNo(Plan.RunOnServiceStart));
  rows.emplace_back("Compression", OnOff(Plan.UseCompression));
  rows.emplace_back("RAR Sifreleme", folder ? "-" : OnOff(Plan.UseRarEncryption));
  rows.emplace_back("Rapor Mail Alicilari",
                    IsBlank(Plan.ReportEmailAddresses) ? "(Tanimli degil)" : Plan.ReportEmailAddresses);
  rows.emplace_back("Yereli Sil", YesNo(Plan.DeleteLocalAfterUpload));
  rows.emplace_back("Yerel Saklama",
                    Plan.LocalBackupRetentionDays >= 1 ? Fmt("%d gun", Plan.LocalBackupRetentionDays) : "Kapali");
  rows.emplace_back("Upload Retry", std::to_string(Plan.UploadRetryCount));
  rows.emplace_back("Basarisiz Dosya Temizligi",
                    Plan.CleanupFailedFiles ? Fmt("Acik (%d saat)", Plan.FailedFileRetentionHours) : "Kapali");
  rows.emplace_back("Son Calisma", Plan.LastRunAt > 0 ? FormatRegionalDateTime(Plan.LastRunAt) : "-");
  rows.emplace_back("Son Durum", OrDash(Plan.LastStatus));
  rows.emplace_back("Son Dosya", OrDash(Plan.LastBackupFile));
  rows.emplace_back("Mesaj", OrDash(Plan.LastMessage));
  return rows;
}

std::vector<std::string> ActivityLines(const TPlanActivitySnapshot& Activity) {
  std::vector<std::string> lines;
  for (auto it = Activity.RecentEvents.rbegin(); it != Activity.RecentEvents.rend(); ++it) {
    const TDateTimeParts p = DecodeDateTime(it->Timestamp);
    const std::string stamp =
        TwoDigits(p.day) + "." + TwoDigits(p.month) + " " + TwoDigits(p.hour) + ":" + TwoDigits(p.minute);
    lines.push_back(stamp + "  " + it->Title + "  " + it->Details);
  }
  return lines;
}

std::string SelectedPlanMeta(const TBackupPlan& Plan, const std::string& CurrentStage) {
  static const std::string separator = "  \u2022  ";
  std::string meta =
      BackupTypeDisplayName(Plan) + separator + PlanTargetName(Plan) + separator + FormatScheduleText(Plan);
  if (!CurrentStage.empty()) meta += separator + CurrentStage;
  return meta;
}

TTransferProgress TransferProgress(const std::string& Caption, std::int64_t BytesSent, std::int64_t TotalBytes) {
  TTransferProgress progress;
  if (TotalBytes <= 0) {
    progress.Label = Caption + ": hazirlaniyor";
    return progress;
  }
  const double sent = static_cast<double>(BytesSent), total = static_cast<double>(TotalBytes);
  progress.Position = static_cast<int>(std::clamp<double>(std::round(sent * 1000.0 / total), 0, 1000));
  progress.Label = Caption + ": " + OneDecimal(sent * 100.0 / total) + "%";
  return progress;
}

TQuotaCard QuotaCardFor(std::int64_t UsedBytes, std::int64_t LimitBytes) {
  TQuotaCard card;
  if (LimitBytes <= 0) {
    card.Value = FormatStorageSize(UsedBytes) + " kullaniliyor";
    return card;
  }
  const double percent =
      std::clamp(static_cast<double>(UsedBytes) * 100.0 / static_cast<double>(LimitBytes), 0.0, 100.0);
  card.Position = static_cast<int>(std::lround(percent * 10.0));
  card.Value = FormatStorageSize(UsedBytes) + " / " + FormatStorageSize(LimitBytes);
  return card;
}

}  // namespace calvora::desktop
