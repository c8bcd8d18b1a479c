#pragma once
// Restore of a backup from Google Drive: a Firebird database into a new
// database file, a SQL Server database (a differential one on top of its
// full backup) under its own or a new name, a folder plan's tree, one of its
// sub-folders or one file at any revision. It needs only a signed-in
// account: the plan list and the restore information come from the
// account's "restoremeta" folder on Drive, so it works on a machine that
// never ran a backup (an encrypted archive then asks for its password).
//
// A restore fetches into a private work folder (removed afterwards),
// checks every download against the MD5 Drive reports, joins the volumes
// of a split archive, extracts it with the archiver (password on standard
// input), and only then touches the target. A failure says what failed and
// leaves the target as it was; an existing database file, database or
// local file is replaced only when the request says the user confirmed it.
// Every step is logged.
//
// The operations never throw. They are meant for both faces of the tool:
//
//   TRestoreService restore;                        // TEnv::Process()
//   restore.SetOnProgress([](const TRestoreProgress& p) { ... });
//   std::vector<TRestorePlan> plans;  std::string message;
//   if (!restore.LoadPlans(plans, message)) fail(message);
//   std::vector<TRestoreBackup> backups;
//   restore.ListBackups(plans[i], backups, message);
//   std::vector<TRestoreVersion> versions;          // newest first
//   restore.ListVersions(backups[j], versions, message);
//   TRestoreRequest request = TRestoreRequest::For(plans[i], backups[j], versions[k]);
//   request.TargetPath = "/var/lib/firebird/data/STOK_RESTORED.FDB";
//   TRestoreResult result = restore.Restore(request);
//   // result.Success, result.Message, result.Conflicts (ask, then retry
//   // with request.ReplaceExisting = true)
//
// One service serves one thread; Cancel may be called from any thread.
#include "engine/uRestoreMetadata.h"
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "foundation/uAppConfig.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calvora {

enum class TRestoreKind { SqlServer, Firebird, Folder };

// A plan as the account's plan list on Drive describes it (no password,
// schedule or run state), with the restore information of its databases.
struct TRestorePlan {
  TBackupPlan Plan;
  std::vector<TRestoreMetadata> Metadata;
  TRestoreKind Kind() const;
  // The restore information of the backup file (matched by prefix), or
  // null when there is none.
  const TRestoreMetadata* MetadataFor(const std::string& BackupName) const;
  // The restore information says the archive is encrypted.
  bool ArchiveEncrypted() const;
};

// One backup a plan keeps on Drive: a ".bak"/".fbk", an archive, or the
// volumes of a split archive ("X.part1.rar", "X.part2.rar", ...), or for a
// folder plan one file of its tree.
struct TRestoreBackup {
  std::string Name;          // the file name; for volumes "X.part*.rar"
  std::string RelativePath;  // folder plans: "sub\dir\file" (display)
  std::vector<std::string> PathParts;  // folder plans: safe local names
  std::vector<TDriveFileInfo> Files;   // one file, or the volumes in order
  std::int64_t Size = 0;               // all files
  TDateTime ModifiedTime = 0;          // newest of its files
};

// One version of a backup: the current content (RevisionID empty) or a
// Drive revision of its first file.
struct TRestoreVersion {
  std::string RevisionID;
  TDateTime ModifiedTime = 0;
  std::int64_t Size = 0;
  std::string MD5;
  bool Current = false;
};

struct TRestoreRequest {
  TRestorePlan Plan;
  // Database plans: the backup and its version. Folder plans: empty for
  // the whole tree or SubFolder, else one file at RevisionID.
  TRestoreBackup Backup;
  std::string RevisionID;  // empty: the current content
  // Asked for when Plan.ArchiveEncrypted(); the plan's own password from
  // this machine's plan file is used when this is empty.
  std::string ArchivePassword;

  // Firebird: the new database file. Folder plans: the folder to restore
  // into. SQL Server: unused.
  std::string TargetPath;
  // Folder plans: restore only this sub-folder of the tree ("a\b" or "a/b").
  std::string SubFolder;

  // SQL Server: the database to restore into (empty: the original name);
  // folders for the data and log files (empty: those of the backup's own
  // files; a new name gets new file names there).
  std::string DatabaseName;
  std::string DataFolder;
  std::string LogFolder;
  // SQL Server: a full backup of the chain given by hand (empty: the
  // differential's full backup is found on Drive).
  std::optional<TRestoreBackup> FullBackup;

  // The user confirmed replacing an existing database file, database or
  // local files.
  bool ReplaceExisting = false;

  // Connection settings; this machine's settings when absent.
  std::optional<TMSSQLBackupConfig> SqlServer;
  std::optional<TFirebirdBackupConfig> Firebird;

  static TRestoreRequest For(const TRestorePlan& Plan, const TRestoreBackup& Backup,
                             const TRestoreVersion& Version);
};

struct TRestoreResult {
  bool Success = false;
  std::string Message;  // for the user, on success and on failure
  // Existing targets that stopped the restore (ReplaceExisting was false).
  std::vector<std::string> Conflicts;
  // What was written: the database file, the database name, the files.
  std::vector<std::string> Restored;
};

struct TRestoreProgress {
  std::string Stage;  // "Indirme", "MD5", "Arsiv", "Firebird", "SQL Server", "Klasor"
  std::string Text;
  std::int64_t Done = 0;
  std::int64_t Total = 0;
};
using TRestoreProgressEvent = std::function<void(const TRestoreProgress&)>;

class TRestoreEngine;

class TRestoreService {
 public:
  explicit TRestoreService(TEnv& Env = TEnv::Process());
  ~TRestoreService();
  TRestoreService(const TRestoreService&) = delete;
  TRestoreService& operator=(const TRestoreService&) = delete;

  // Fetches the plan list and restore information from Drive
  // (DownloadAccountRestoreData) and reads them; plans in list order.
  bool LoadPlans(std::vector<TRestorePlan>& Plans, std::string& Message);
  // The plan's backups on Drive, newest first (folder plans: every file of
  // the tree).
  bool ListBackups(const TRestorePlan& Plan, std::vector<TRestoreBackup>& Backups, std::string& Message);
  // The current content first, then the revisions, newest first.
  bool ListVersions(const TRestoreBackup& Backup, std::vector<TRestoreVersion>& Versions, std::string& Message);
  TRestoreResult Restore(const TRestoreRequest& Request);

  // Called on the restoring thread.
  void SetOnProgress(TRestoreProgressEvent Event);
  // Stops the restore at its next step (between files and tools); what was
  // written to the target is taken back.
  void Cancel();

  // SQL Server: where each file of the backup goes for that database name
  // and folders (see TRestoreRequest).
  static std::vector<TRestoreDbFile> PlanFileMoves(const TRestoreMetadata& Metadata, const std::string& DatabaseName,
                                                   const std::string& DataFolder, const std::string& LogFolder);

 private:
  std::unique_ptr<TRestoreEngine> FEngine;
};

}  // namespace calvora
