#include "cli/CliPlanFields.h"

#include "cli/CliCommon.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/TextUtil.h"
#include "plans/uPlanDefaults.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace calvora::cli {
namespace {

TPlanField TextField(const char* Name, std::string TBackupPlan::*Member) {
  return {Name, TFieldKind::Text, Member, nullptr, nullptr};
}
TPlanField BoolField(const char* Name, bool TBackupPlan::*Member) {
  return {Name, TFieldKind::Bool, nullptr, Member, nullptr};
}
TPlanField IntField(const char* Name, int TBackupPlan::*Member) {
  return {Name, TFieldKind::Int, nullptr, nullptr, Member};
}

std::string NormalizeScheduleType(const std::string& Text) {
  const std::string word = LowerAscii(Trim(Text));
  if (word == "periodic" || word == "daily" || word == "weekly") return word;
  throw ECliError("ScheduleType periodic, daily veya weekly olmali: " + Text);
}

// "hh:nn" as the editor's time picker writes it.
std::string NormalizeScheduleTime(const std::string& Text) {
  TDateTime time = 0;
  if (!TryParseRegionalTime(Trim(Text), time)) throw ECliError("ScheduleTime saat:dakika olmali: " + Text);
  const TDateTimeParts parts = DecodeDateTime(time);
  return Fmt("%02d:%02d", parts.hour, parts.minute);
}

// Ascending day numbers 1..7 joined by "," without blanks.
std::string NormalizeWeeklyDays(const std::string& Text) {
  std::set<int> days;
  for (const std::string& piece : Split(Text, ',')) {
    if (IsBlank(piece)) continue;
    int day = 0;
    if (!TryParseInt(Trim(piece), day) || day < 1 || day > 7)
      throw ECliError("WeeklyDays 1 (Pazar) ile 7 (Cumartesi) arasi gun numaralari olmali: " + Text);
    days.insert(day);
  }
  std::vector<std::string> items;
  for (int day : days) items.push_back(std::to_string(day));
  return Join(items, ",");
}

}  // namespace

const std::vector<TPlanField>& EditablePlanFields() {
  static const std::vector<TPlanField> fields = {
      TextField("Name", &TBackupPlan::Name),
      TextField("Description", &TBackupPlan::Description),
      BoolField("Enabled", &TBackupPlan::Enabled),
      TextField("BackupType", &TBackupPlan::BackupType),
      TextField("DatabaseName", &TBackupPlan::DatabaseName),
      TextField("SourceFolder", &TBackupPlan::SourceFolder),
      TextField("TempDirectory", &TBackupPlan::TempDirectory),
      TextField("DriveSubFolder", &TBackupPlan::DriveSubFolder),
      BoolField("AutoRun", &TBackupPlan::AutoRun),
      TextField("ScheduleType", &TBackupPlan::ScheduleType),
      TextField("ScheduleTime", &TBackupPlan::ScheduleTime),
      TextField("WeeklyDays", &TBackupPlan::WeeklyDays),
      IntField("IntervalMinutes", &TBackupPlan::IntervalMinutes),
      BoolField("RunOnServiceStart", &TBackupPlan::RunOnServiceStart),
      BoolField("UseCompression", &TBackupPlan::UseCompression),
      BoolField("UseRarEncryption", &TBackupPlan::UseRarEncryption),
      IntField("RarSplitVolumeMB", &TBackupPlan::RarSplitVolumeMB),
      TextField("ReportEmailAddresses", &TBackupPlan::ReportEmailAddresses),
      BoolField("DeleteLocalAfterUpload", &TBackupPlan::DeleteLocalAfterUpload),
      IntField("LocalBackupRetentionDays", &TBackupPlan::LocalBackupRetentionDays),
      IntField("UploadRetryCount", &TBackupPlan::UploadRetryCount),
      BoolField("CleanupFailedFiles", &TBackupPlan::CleanupFailedFiles),
      IntField("FailedFileRetentionHours", &TBackupPlan::FailedFileRetentionHours),
      BoolField("EnableDifferential", &TBackupPlan::EnableDifferential),
      IntField("FullBackupIntervalMinutes", &TBackupPlan::FullBackupIntervalMinutes),
  };
  return fields;
}

std::string FieldOptionName(const std::string& FieldName) {
  std::string option;
  for (size_t i = 0; i < FieldName.size(); ++i) {
    const char c = FieldName[i];
    const bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
    // A new word starts at a capital after a small letter ("RarSplit"), or
    // at the last capital of a run followed by a small letter.
    const bool prevLower = i > 0 && std::islower(static_cast<unsigned char>(FieldName[i - 1]));
    const bool nextLower = i + 1 < FieldName.size() && std::islower(static_cast<unsigned char>(FieldName[i + 1]));
    const bool prevUpper = i > 0 && std::isupper(static_cast<unsigned char>(FieldName[i - 1]));
    if (upper && i > 0 && (prevLower || (prevUpper && nextLower))) option += '-';
    option += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return option;
}

const TPlanField* FindPlanField(const std::string& Name) {
  const std::string wanted = Trim(Name);
  for (const TPlanField& field : EditablePlanFields())
    if (SameText(field.Name, wanted) || SameText(FieldOptionName(field.Name), wanted)) return &field;
  return nullptr;
}

void SetPlanField(TBackupPlan& Plan, const TPlanField& Field, const std::string& Value) {
  const std::string name = Field.Name;
  switch (Field.Kind) {
    case TFieldKind::Bool: {
      bool value = false;
      if (!ParseBoolText(Value, value)) throw ECliError(name + " icin true veya false bekleniyor: " + Value);
      Plan.*Field.Bool = value;
      return;
    }
    case TFieldKind::Int: {
      int value = 0;
      if (!TryParseInt(Trim(Value), value)) throw ECliError(name + " icin tam sayi bekleniyor: " + Value);
      Plan.*Field.Int = value;
      return;
    }
    case TFieldKind::Text:
      break;
  }
  std::string text = Trim(Value);
  if (name == "BackupType") {
    const std::string word = LowerAscii(text);
    if (word != "sql" && word != "folder" && word != "firebird")
      throw ECliError("BackupType sql, folder veya firebird olmali: " + Value);
    text = word;
  } else if (name == "ScheduleType") {
    text = NormalizeScheduleType(text);
  } else if (name == "ScheduleTime") {
    text = NormalizeScheduleTime(text);
  } else if (name == "WeeklyDays") {
    text = NormalizeWeeklyDays(text);
  } else if (name == "Description") {
    text = Value;  // free text, kept as typed like the editor's memo
  }
  Plan.*Field.Text = text;
}

void ApplyAssignment(TBackupPlan& Plan, const std::string& Assignment) {
  const size_t equals = Assignment.find('=');
  if (equals == std::string::npos) throw EUsageError("--set ALAN=DEGER bekleniyor: " + Assignment);
  const std::string name = Trim(Assignment.substr(0, equals));
  const TPlanField* field = FindPlanField(name);
  if (!field) throw EUsageError("Bilinmeyen plan alani: " + name);
  SetPlanField(Plan, *field, Assignment.substr(equals + 1));
}

TBackupPlan NewCliPlan() {
  TBackupPlan plan = NewPlanDefaults();
  // An empty full-backup period reads back as the 30-day default in the
  // editor; here the record is saved as it stands, so it carries that value.
  plan.FullBackupIntervalMinutes = TBackupPlan().FullBackupIntervalMinutes;
  return plan;
}

void ApplyPlanTypeRules(TBackupPlan& Plan) {
  Plan.BackupType = NormalizeBackupType(Plan.BackupType);
  if (IsFolderPlan(Plan)) {
    Plan.DatabaseName.clear();
    Plan.TempDirectory.clear();
    Plan.RarPassword.clear();
    Plan.ReportEmailAddresses.clear();
    Plan.UseCompression = false;
    Plan.UseRarEncryption = false;
    Plan.DeleteLocalAfterUpload = false;
  } else if (IsFirebirdPlan(Plan)) {
    Plan.SourceFolder.clear();
    Plan.RarPassword.clear();
    Plan.UseCompression = false;
    Plan.UseRarEncryption = false;
    Plan.EnableDifferential = false;
  } else {
    Plan.SourceFolder.clear();
    if (!Plan.UseRarEncryption) Plan.RarPassword.clear();
  }
  if (Plan.RarSplitVolumeMB < 0) Plan.RarSplitVolumeMB = 0;
}

std::string PlanScheduleText(const TBackupPlan& Plan) {
  if (!Plan.AutoRun) return "Manuel";
  if (SameText(Plan.ScheduleType, "daily")) return "Gunluk " + Plan.ScheduleTime;
  if (SameText(Plan.ScheduleType, "weekly")) return "Haftalik " + Plan.ScheduleTime;
  if (SameText(Plan.ScheduleType, "periodic")) return Fmt("%d dk", Plan.IntervalMinutes);
  return "Manuel";
}

std::vector<std::pair<std::string, std::string>> PlanFieldRows(const TBackupPlan& Plan) {
  std::vector<std::pair<std::string, std::string>> rows = {{"ID", Plan.ID}};
  for (const TPlanField& field : EditablePlanFields()) {
    std::string value;
    switch (field.Kind) {
      case TFieldKind::Text:
        value = Plan.*field.Text;
        break;
      case TFieldKind::Bool:
        value = BoolText(Plan.*field.Bool);
        break;
      case TFieldKind::Int:
        value = std::to_string(Plan.*field.Int);
        break;
    }
    rows.emplace_back(field.Name, value);
  }
  rows.emplace_back("RarPassword", Plan.RarPassword.empty() ? "" : "(ayarli)");
  rows.emplace_back("LastRunAt", Plan.LastRunAt > 0 ? FormatPlanDateTime(Plan.LastRunAt) : "");
  rows.emplace_back("LastFullBackupAt", Plan.LastFullBackupAt > 0 ? FormatPlanDateTime(Plan.LastFullBackupAt) : "");
  rows.emplace_back("LastStatus", Plan.LastStatus);
  rows.emplace_back("LastMessage", Plan.LastMessage);
  rows.emplace_back("LastBackupFile", Plan.LastBackupFile);
  return rows;
}

TJson PlanExportJson(const TBackupPlan& Plan, bool WithRunFields) {
  TBackupPlan copy = Plan;
  copy.RarPassword.clear();
  TJson object = TBackupPlanStore::PlanToJson(copy);
  object.erase("RarPasswordProtected");
  if (!WithRunFields)
    for (const char* member : {"LastFullBackupAt", "LastRunAt", "LastStatus", "LastMessage", "LastBackupFile"})
      object.erase(member);
  return object;
}

}  // namespace calvora::cli
