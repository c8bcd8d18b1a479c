#pragma once
// A backup plan ("gorev"): what is backed up, where the work files go, which
// Drive folder receives the result, when it runs and how archives, uploads
// and cleanup behave, plus the outcome of its last run. All plans live in
// one protected file, "backupplans.json", in the data folder.
#include "foundation/DateTime.h"
#include "foundation/JsonText.h"

#include <functional>
#include <string>
#include <vector>

namespace calvora {

class TEnv;

// Plain value record; the defaults are those a plan object without the
// member reads as (see TBackupPlanStore::PlanFromJson).
struct TBackupPlan {
  std::string ID;           // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  std::string Name;
  std::string Description;
  bool Enabled = false;
  std::string BackupType = "sql";  // "sql", "folder" or "firebird"
  // SQL: database names separated by ";" or line breaks. Firebird: a
  // database file, or a folder whose .fdb/.gdb/.ib files are all backed up.
  std::string DatabaseName;
  std::string SourceFolder;    // folder plans
  std::string TempDirectory;   // database plans; empty: SQL Server output folder
  std::string DriveSubFolder;  // below the account's Drive root; empty: the root
  bool AutoRun = false;        // the service schedules this plan
  std::string ScheduleType = "periodic";  // "periodic", "daily", "weekly"
  std::string ScheduleTime = "02:00";     // "hh:nn" for daily/weekly
  std::string WeeklyDays;                 // "2,4,6": 1 = Sunday ... 7 = Saturday
  int IntervalMinutes = 60;
  bool RunOnServiceStart = false;
  bool UseCompression = true;
  bool UseRarEncryption = false;
  std::string RarPassword;  // always plain in memory
  int RarSplitVolumeMB = 1024;  // 0 = never split
  std::string ReportEmailAddresses;
  bool DeleteLocalAfterUpload = false;
  int LocalBackupRetentionDays = 0;  // 0 = keep
  int UploadRetryCount = 2;          // extra attempts after the first
  bool CleanupFailedFiles = true;
  int FailedFileRetentionHours = 24;
  bool EnableDifferential = false;
  int FullBackupIntervalMinutes = 43200;
  TDateTime LastFullBackupAt = 0;  // 0 = never
  TDateTime LastRunAt = 0;         // end of the last run; 0 = never
  std::string LastStatus;          // "Başarılı" or "Hatalı"
  std::string LastMessage;
  std::string LastBackupFile;
};

// "folder" / "firebird" for those words (trimmed, any case), else "sql".
std::string NormalizeBackupType(const std::string& BackupType);
bool IsFolderPlan(const TBackupPlan& Plan);
bool IsFirebirdPlan(const TBackupPlan& Plan);
// "Klasor", "Firebird" or "SQL".
std::string BackupTypeDisplayName(const TBackupPlan& Plan);
// Folder plan: trimmed SourceFolder; SQL plan: PlanDatabaseList joined with
// ", "; Firebird plan: trimmed DatabaseName with every ";" shown as ", ".
std::string PlanSourceText(const TBackupPlan& Plan);
// Short name of what the plan backs up (folder name, database file name
// without extension, database list); the trimmed Name when that is empty.
std::string PlanTargetName(const TBackupPlan& Plan);
// Firebird plan whose trimmed DatabaseName is an existing folder.
bool IsFirebirdFolderPlan(const TBackupPlan& Plan);
// The .fdb/.gdb/.ib files directly in the plan's folder, or the one
// database path; empty for other plans.
std::vector<std::string> FirebirdDatabaseFiles(const TBackupPlan& Plan);
// SQL database names, split at ";" and line breaks, trimmed, empties dropped.
std::vector<std::string> PlanDatabaseList(const TBackupPlan& Plan);
// PlanTargetName made safe for file names, ending in "_" ("backup_" at worst).
std::string SafeFilePrefix(const TBackupPlan& Plan);
// Copies the outcome of the last run (LastRunAt, LastFullBackupAt,
// LastStatus, LastMessage, LastBackupFile) and nothing else.
void CopyPlanRunFields(const TBackupPlan& From, TBackupPlan& To);
// "yyyy-mm-dd hh:nn:ss".
std::string FormatPlanDateTime(TDateTime Value);
// The fixed pattern, ISO 8601 with "T", or the regional form; false and 0
// for empty or unreadable text and for moments not after 1899-12-30 00:00
// (the zero of the day count, which means unset).
bool ParsePlanDateTime(const std::string& Text, TDateTime& Value);

// The plan file. Loads and saves the whole list; holds nothing between
// calls. File and protection errors reach the caller as EAppError.
class TBackupPlanStore {
 public:
  // Bound to <DataFolder>/backupplans.json.
  explicit TBackupPlanStore(const std::string& DataFolder);
  explicit TBackupPlanStore(const TEnv& Env);

  const std::string& FilePath() const { return FFilePath; }

  // "{8-4-4-4-12}" upper-case hexadecimal.
  static std::string GeneratePlanID();

  // Plans in file order; empty when there is no file. A plain (older) file
  // is rewritten protected; a file whose envelope does not open is moved
  // aside to "backupplans.json.corrupt". Throws EConvertError for an array
  // element that is not an object, EAppError "Gizli bilgi okunamadi: Veri
  // gecersiz" for a password envelope that does not open.
  std::vector<TBackupPlan> LoadPlans() const;
  // Replaces the file atomically.
  void SavePlans(const std::vector<TBackupPlan>& Plans) const;

  // One change on a fresh load of the file, so whatever another writer (the
  // service's runner, another window) stored since the caller's own load
  // survives. Plans are matched by ID ignoring case.
  //
  // The plan's edited fields replace the stored plan with its ID, whose run
  // fields stay as stored; a plan the file does not hold is appended.
  void SavePlan(const TBackupPlan& Plan) const;
  // The plan's run fields go into the stored plan with its ID, whose other
  // fields stay as stored; Plan becomes that stored plan. False (and the
  // file untouched) when the file no longer holds the plan.
  bool SavePlanRunFields(TBackupPlan& Plan) const;
  // Removes the plan with this ID keeping the order of the others; false
  // (and the file untouched) when there is none.
  bool DeletePlan(const std::string& PlanID) const;

  static TJson PlanToJson(const TBackupPlan& Plan);
  // Applies every default, bound and older member name.
  TBackupPlan PlanFromJson(const TJson& Object) const;
  // "Database" of [MSSQLBackup] in config.ini beside the plan file, opened;
  // empty when absent or unreadable.
  std::string ReadLegacyDatabaseName() const;

 private:
  TBackupPlan PlanFromJson(const TJson& Object, const std::function<std::string()>& LegacyDatabaseName) const;
  std::string FFilePath;
};

}  // namespace calvora
