#include "plans/uBackupPlans.h"
#include "plans/uPlanDefaults.h"

#include "foundation/AppError.h"
#include "foundation/Crypto.h"
#include "foundation/Env.h"
#include "foundation/Format.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "foundation/uSecureString.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>

namespace calvora {
namespace {

constexpr const char* kPlanFileName = "backupplans.json";
constexpr int kDefaultFullBackupMinutes = 43200;
constexpr int kDefaultFullBackupDays = 30;

std::string LastPathComponent(const std::string& path) {
  return ExtractFileName(ExcludeTrailingSeparator(path));
}

std::string DateText(TDateTime value) { return value > 0 ? FormatPlanDateTime(value) : std::string(); }


}  // namespace

std::string NormalizeBackupType(const std::string& BackupType) {
  const std::string t = Trim(BackupType);
  if (SameText(t, "folder")) return "folder";
  if (SameText(t, "firebird")) return "firebird";
  return "sql";
}

bool IsFolderPlan(const TBackupPlan& Plan) { return NormalizeBackupType(Plan.BackupType) == "folder"; }
bool IsFirebirdPlan(const TBackupPlan& Plan) { return NormalizeBackupType(Plan.BackupType) == "firebird"; }

std::string BackupTypeDisplayName(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan)) return "Klasor";
  if (IsFirebirdPlan(Plan)) return "Firebird";
  return "SQL";
}

std::string PlanSourceText(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan)) return Trim(Plan.SourceFolder);
  if (IsFirebirdPlan(Plan)) return ReplaceAll(Trim(Plan.DatabaseName), ";", ", ");
  // The list as the engine backs it up: a stray separator names no database
  // and must not reach the file names.
  return Join(PlanDatabaseList(Plan), ", ");
}

std::string PlanTargetName(const TBackupPlan& Plan) {
  std::string result = PlanSourceText(Plan);
  if (IsFolderPlan(Plan)) {
    result = LastPathComponent(result);
  } else if (IsFirebirdPlan(Plan)) {
    const std::string db = Trim(Plan.DatabaseName);
    if (!db.empty() && DirectoryExists(db)) {
      result = LastPathComponent(db);
    } else {
      result = ChangeFileExt(ExtractFileName(db), "");
      if (result.empty()) result = db;
    }
  }
  if (result.empty()) result = Trim(Plan.Name);
  return result;
}

bool IsFirebirdFolderPlan(const TBackupPlan& Plan) {
  return IsFirebirdPlan(Plan) && DirectoryExists(Trim(Plan.DatabaseName));
}

std::vector<std::string> FirebirdDatabaseFiles(const TBackupPlan& Plan) {
  std::vector<std::string> files;
  const std::string db = Trim(Plan.DatabaseName);
  if (!IsFirebirdPlan(Plan) || db.empty()) return files;
  if (!DirectoryExists(db)) {
    files.push_back(db);
    return files;
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(db, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string ext = LowerAscii(ExtractFileExt(it->path().filename().string()));
    if (ext == ".fdb" || ext == ".gdb" || ext == ".ib") files.push_back(it->path().string());
  }
  return files;
}

std::vector<std::string> PlanDatabaseList(const TBackupPlan& Plan) {
  std::vector<std::string> names;
  std::string text = Trim(Plan.DatabaseName);
  if (text.empty()) return names;
  text = ReplaceAll(ReplaceAll(ReplaceAll(text, "\r\n", ";"), "\r", ";"), "\n", ";");
  for (const std::string& item : Split(text, ';')) {
    std::string name = Trim(item);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

std::string SafeFilePrefix(const TBackupPlan& Plan) {
  std::string prefix = PlanTargetName(Plan);
  for (char& c : prefix)
    if (c == ' ' || c == ':' || c == '\\' || c == '/') c = '_';
  prefix = Trim(prefix);
  if (prefix.empty()) prefix = "backup";
  return prefix + "_";
}

std::string FormatPlanDateTime(TDateTime Value) { return FormatDateTime(Value); }

bool ParsePlanDateTime(const std::string& Text, TDateTime& Value) {
  Value = 0;
  std::string text = Trim(Text);
  if (text.empty()) return false;
  TDateTime parsed = 0;
  bool ok = TryParseDateTime(text, parsed);
  if (!ok) {
    size_t t = text.find('T');
    if (t != std::string::npos) {
      std::string iso = text;
      iso[t] = ' ';
      ok = TryParseDateTime(iso, parsed);
    }
  }
  if (!ok) ok = TryParseRegionalDateTime(text, parsed);
  // A moment is a day count above 0 (0 means unset): an earlier date could
  // be read but never written back.
  if (!ok || parsed <= 0) return false;
  Value = parsed;
  return true;
}

TBackupPlanStore::TBackupPlanStore(const std::string& DataFolder)
    : FFilePath(IncludeTrailingSeparator(DataFolder) + kPlanFileName) {}

TBackupPlanStore::TBackupPlanStore(const TEnv& Env) : TBackupPlanStore(Env.DataDir()) {}

std::string TBackupPlanStore::GeneratePlanID() {
  std::string bytes;
  if (!RandomBytes(16, bytes)) throw EAppError("Plan kimligi uretilemedi");
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const std::string hex = UpperAscii(HexLower(bytes));
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) +
         "-" + hex.substr(20) + "}";
}

TJson TBackupPlanStore::PlanToJson(const TBackupPlan& Plan) {
  TJson o = TJson::object();
  o["ID"] = Plan.ID;
  o["Name"] = Plan.Name;
  o["Description"] = Plan.Description;
  o["Enabled"] = Plan.Enabled;
  o["BackupType"] = NormalizeBackupType(Plan.BackupType);
  o["DatabaseName"] = Plan.DatabaseName;
  o["SourceFolder"] = Plan.SourceFolder;
  o["TempDirectory"] = Plan.TempDirectory;
  o["DriveSubFolder"] = Plan.DriveSubFolder;
  o["AutoRun"] = Plan.AutoRun;
  o["ScheduleType"] = Plan.ScheduleType;
  o["ScheduleTime"] = Plan.ScheduleTime;
  o["WeeklyDays"] = Plan.WeeklyDays;
  o["IntervalMinutes"] = Plan.IntervalMinutes;
  o["RunOnServiceStart"] = Plan.RunOnServiceStart;
  o["UseCompression"] = Plan.UseCompression;
  o["UseRarEncryption"] = Plan.UseRarEncryption;
  o["RarPasswordProtected"] = Plan.RarPassword.empty() ? std::string() : ProtectSecret(Plan.RarPassword);
  o["RarSplitVolumeMB"] = Plan.RarSplitVolumeMB;
  o["ReportEmailAddresses"] = Plan.ReportEmailAddresses;
  o["DeleteLocalAfterUpload"] = Plan.DeleteLocalAfterUpload;
  o["LocalBackupRetentionDays"] = Plan.LocalBackupRetentionDays;
  o["UploadRetryCount"] = Plan.UploadRetryCount;
  o["CleanupFailedFiles"] = Plan.CleanupFailedFiles;
  o["FailedFileRetentionHours"] = Plan.FailedFileRetentionHours;
  o["EnableDifferential"] = Plan.EnableDifferential;
  o["FullBackupIntervalMinutes"] = Plan.FullBackupIntervalMinutes;
  o["LastFullBackupAt"] = DateText(Plan.LastFullBackupAt);
  o["LastRunAt"] = DateText(Plan.LastRunAt);
  o["LastStatus"] = Plan.LastStatus;
  o["LastMessage"] = Plan.LastMessage;
  o["LastBackupFile"] = Plan.LastBackupFile;
  return o;
}

TBackupPlan TBackupPlanStore::PlanFromJson(const TJson& Object) const {
  return PlanFromJson(Object, [this] { return ReadLegacyDatabaseName(); });
}

TBackupPlan TBackupPlanStore::PlanFromJson(const TJson& Object,
                                           const std::function<std::string()>& LegacyDatabaseName) const {
  const TJson& o = Object;
  TBackupPlan p = EmptyPlan();
  auto has = [&](const char* key) { return JsonHas(o, key); };
  auto text = [&](const char* key) { return JsonMemberText(o, key); };
  auto readString = [&](const char* key, std::string& field) {
    if (has(key)) field = text(key);
  };
  auto readBool = [&](const char* key, bool& field) {
    if (has(key)) field = SameText(text(key), "true");
  };
  auto readInt = [&](const char* key, int& field, int fallback) {
    if (has(key) && !TryParseInt(text(key), field)) field = fallback;
  };
  auto readDate = [&](const char* key, TDateTime& field) {
    const std::string value = Trim(text(key));
    if (!ParsePlanDateTime(value, field) && !value.empty())
      LogWarnFmt("Plan tarihi okunamadi, bos kabul edildi (%s, %s): %s", p.ID, key, value);
  };

  readString("ID", p.ID);
  readString("Name", p.Name);
  readString("Description", p.Description);
  readBool("Enabled", p.Enabled);
  if (has("BackupType")) p.BackupType = NormalizeBackupType(text("BackupType"));
  readString("DatabaseName", p.DatabaseName);
  readString("SourceFolder", p.SourceFolder);
  readString("TempDirectory", p.TempDirectory);
  readString("DriveSubFolder", p.DriveSubFolder);
  readBool("AutoRun", p.AutoRun);
  readString("ScheduleType", p.ScheduleType);
  readString("ScheduleTime", p.ScheduleTime);
  readString("WeeklyDays", p.WeeklyDays);
  readInt("IntervalMinutes", p.IntervalMinutes, 60);
  readBool("RunOnServiceStart", p.RunOnServiceStart);
  readBool("UseCompression", p.UseCompression);
  readBool("UseRarEncryption", p.UseRarEncryption);
  readInt("RarSplitVolumeMB", p.RarSplitVolumeMB, 1024);
  readString("ReportEmailAddresses", p.ReportEmailAddresses);
  readBool("DeleteLocalAfterUpload", p.DeleteLocalAfterUpload);
  readInt("LocalBackupRetentionDays", p.LocalBackupRetentionDays, 0);
  readInt("UploadRetryCount", p.UploadRetryCount, 2);
  readBool("CleanupFailedFiles", p.CleanupFailedFiles);
  readInt("FailedFileRetentionHours", p.FailedFileRetentionHours, 24);
  readBool("EnableDifferential", p.EnableDifferential);
  readInt("FullBackupIntervalMinutes", p.FullBackupIntervalMinutes, kDefaultFullBackupMinutes);
  readString("LastStatus", p.LastStatus);
  readString("LastMessage", p.LastMessage);
  readString("LastBackupFile", p.LastBackupFile);

  // Member names of older versions.
  if (p.DatabaseName.empty()) readString("Database", p.DatabaseName);
  if (!has("ReportEmailAddresses")) readString("ReportEmail", p.ReportEmailAddresses);
  if (!has("FullBackupIntervalMinutes") && has("FullBackupIntervalDays")) {
    int days = kDefaultFullBackupDays;
    readInt("FullBackupIntervalDays", days, kDefaultFullBackupDays);
    const long long minutes = static_cast<long long>(days) * 1440;
    // A day count too large for minutes is as unusable as one that is not a number.
    p.FullBackupIntervalMinutes = minutes > INT_MAX ? kDefaultFullBackupMinutes : static_cast<int>(minutes);
  }
  if (has("RarPasswordProtected"))
    p.RarPassword = UnprotectSecret(text("RarPasswordProtected"));
  else
    readString("RarPassword", p.RarPassword);

  readDate("LastFullBackupAt", p.LastFullBackupAt);
  readDate("LastRunAt", p.LastRunAt);

  if (p.IntervalMinutes <= 0) p.IntervalMinutes = 60;
  if (p.LocalBackupRetentionDays < 0) p.LocalBackupRetentionDays = 0;
  if (p.UploadRetryCount < 0) p.UploadRetryCount = 0;
  if (p.RarSplitVolumeMB < 0) p.RarSplitVolumeMB = 0;
  if (p.FailedFileRetentionHours <= 0) p.FailedFileRetentionHours = 24;
  if (p.FullBackupIntervalMinutes <= 0) p.FullBackupIntervalMinutes = kDefaultFullBackupMinutes;
  if (p.ScheduleType.empty()) p.ScheduleType = "periodic";
  if (p.BackupType.empty()) p.BackupType = "sql";
  if (p.ScheduleTime.empty()) p.ScheduleTime = "02:00";
  if (!has("UseCompression")) p.UseCompression = true;
  if (!has("RarSplitVolumeMB")) p.RarSplitVolumeMB = 1024;
  if (!has("AutoRun")) p.AutoRun = p.Enabled;
  if (!has("UploadRetryCount")) p.UploadRetryCount = 2;
  if (!has("CleanupFailedFiles")) p.CleanupFailedFiles = true;
  if (!has("FullBackupIntervalMinutes") && !has("FullBackupIntervalDays"))
    p.FullBackupIntervalMinutes = kDefaultFullBackupMinutes;

  if (p.DatabaseName.empty()) p.DatabaseName = LegacyDatabaseName();
  if (p.Name.empty()) p.Name = PlanTargetName(p);
  return p;
}

std::string TBackupPlanStore::ReadLegacyDatabaseName() const {
  const std::string configFile = JoinPath(ExtractFileDir(FFilePath), "config.ini");
  if (!FileExists(configFile)) return std::string();
  std::string plain;
  if (!TryUnprotectSecret(Trim(ReadIniFileValue(configFile, "MSSQLBackup", "Database")), plain)) return {};
  return plain;
}

std::vector<TBackupPlan> TBackupPlanStore::LoadPlans() const {
  std::vector<TBackupPlan> plans;
  std::string json;
  if (!ReadProtectedTextFile(FFilePath, json)) return plans;
  TJson root;
  if (!TryParseJson(json, root) || !root.is_array()) return plans;
  // config.ini is read once per load, not once per plan.
  std::optional<std::string> legacy;
  auto legacyName = [&]() -> std::string {
    if (!legacy) legacy = ReadLegacyDatabaseName();
    return *legacy;
  };
  for (size_t i = 0; i < root.size(); ++i) {
    const TJson& item = root[i];
    if (!item.is_object())
      throw EConvertError(Fmt("Gecersiz plan kaydi (%d. oge bir nesne degil)", static_cast<int>(i + 1)));
    plans.push_back(PlanFromJson(item, legacyName));
  }
  return plans;
}

void TBackupPlanStore::SavePlans(const std::vector<TBackupPlan>& Plans) const {
  TJson list = TJson::array();
  for (const TBackupPlan& plan : Plans) list.push_back(PlanToJson(plan));
  WriteProtectedTextFile(FFilePath, JsonToText(list));
}

namespace {

TBackupPlan* FindPlanById(std::vector<TBackupPlan>& Plans, const std::string& PlanID) {
  for (TBackupPlan& plan : Plans)
    if (SameText(plan.ID, PlanID)) return &plan;
  return nullptr;
}

}  // namespace

void CopyPlanRunFields(const TBackupPlan& From, TBackupPlan& To) {
  To.LastRunAt = From.LastRunAt;
  To.LastFullBackupAt = From.LastFullBackupAt;
  To.LastStatus = From.LastStatus;
  To.LastMessage = From.LastMessage;
  To.LastBackupFile = From.LastBackupFile;
}

void TBackupPlanStore::SavePlan(const TBackupPlan& Plan) const {
  std::vector<TBackupPlan> plans = LoadPlans();
  if (TBackupPlan* stored = FindPlanById(plans, Plan.ID)) {
    TBackupPlan edited = Plan;
    CopyPlanRunFields(*stored, edited);
    *stored = edited;
  } else {
    plans.push_back(Plan);
  }
  SavePlans(plans);
}

bool TBackupPlanStore::SavePlanRunFields(TBackupPlan& Plan) const {
  std::vector<TBackupPlan> plans = LoadPlans();
  TBackupPlan* stored = FindPlanById(plans, Plan.ID);
  if (!stored) return false;
  CopyPlanRunFields(Plan, *stored);
  SavePlans(plans);
  Plan = *stored;
  return true;
}

bool TBackupPlanStore::DeletePlan(const std::string& PlanID) const {
  std::vector<TBackupPlan> plans = LoadPlans();
  const auto it = std::find_if(plans.begin(), plans.end(),
                               [&](const TBackupPlan& plan) { return SameText(plan.ID, PlanID); });
  if (it == plans.end()) return false;
  plans.erase(it);
  SavePlans(plans);
  return true;
}

}  // namespace calvora
