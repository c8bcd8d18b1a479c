#pragma once
// The backup engine: runs one plan (one or several SQL Server databases,
// Firebird databases, a folder), drives the backup scripts in the "sql"
// folder, archives and uploads the results, keeps retention, watches TDE,
// writes restore information, and offers the Drive browsing and download
// operations of the desktop. One engine serves one operation on one thread.
//
// Public operations never throw: they return success and put a text for the
// user into their message parameter. The internal operations below raise
// EAppError with that text; the public operation that called them catches it.
#include "foundation/Env.h"
#include "foundation/JsonText.h"
#include "foundation/uAppConfig.h"
#include "google/uGoogleDrive.h"
#include "plans/uBackupPlans.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace calvora {

class TGoogleAuth;

// What the TDE pre-check found before a SQL Server backup.
struct TTdePreCheck {
  bool Established = false;  // the TDE state was determined
  std::string Thumbprint;    // empty when not encrypted or not determined
  bool Encrypted = false;
  std::string Information;
  bool Anomaly = false;
  std::string AnomalyText;
};

class TCloudBackupService {
 public:
  explicit TCloudBackupService(const TMSSQLBackupConfig& Config, TEnv& Env = TEnv::Process());
  virtual ~TCloudBackupService();
  TCloudBackupService(const TCloudBackupService&) = delete;
  TCloudBackupService& operator=(const TCloudBackupService&) = delete;

  // Enabled, and Server and UserName not blank.
  static bool IsConfigured(const TMSSQLBackupConfig& Config);

  // Runs the plan. BackupFilePath: the uploaded file (several databases:
  // the files joined with "; "; folder plans: the source folder).
  bool BackupPlan(TBackupPlan& Plan, std::string& BackupFilePath, std::string& ResultMessage);

  // --- connection tests and the SQL Server database list
  bool TestConnection(std::string& ErrorMessage);
  bool ListDatabases(std::vector<std::string>& Databases, std::string& ErrorMessage);
  bool TestFirebirdConnection(std::string& ErrorMessage);

  // --- Drive browsing and downloads
  bool ListPlanDriveBackups(const TBackupPlan& Plan, std::vector<TDriveFileInfo>& Files, std::string& ResultMessage);
  bool DownloadDriveBackupFile(const TDriveFileInfo& FileInfo, const std::string& DestPath,
                               std::string& ResultMessage);
  bool DownloadPlanBackups(const TBackupPlan& Plan, const std::string& DestDir, std::string& ResultMessage);
  bool DownloadAccountRestoreData(std::string& ResultMessage);
  bool ListDriveFileRevisions(const std::string& FileID, std::vector<TDriveRevisionInfo>& Revisions,
                              std::string& ResultMessage);
  bool DownloadDriveFileRevision(const std::string& FileID, const std::string& RevisionID,
                                 const std::string& DestPath, std::string& ResultMessage);
  // Pins a revision (Drive keeps it past its purge of old revisions) or
  // unpins it. Pinning is refused with a message, before asking Drive, when
  // the file already has kMaxPinnedRevisions pinned revisions.
  bool SetDriveRevisionKeepForever(const std::string& FileID, const std::string& RevisionID, bool KeepForever,
                                   std::string& ResultMessage);
  // How many revisions Drive keeps forever per file at most.
  static constexpr int kMaxPinnedRevisions = 200;
  static int PinnedRevisionCount(const std::vector<TDriveRevisionInfo>& Revisions);

  // --- progress events (set right after construction)
  const TUploadProgress& OnUploadProgress() const { return FOnUploadProgress; }
  void SetOnUploadProgress(TUploadProgress Value) { FOnUploadProgress = std::move(Value); }
  const TUploadProgress& OnDownloadProgress() const { return FOnDownloadProgress; }
  void SetOnDownloadProgress(TUploadProgress Value) { FOnDownloadProgress = std::move(Value); }

  // Folder plans upload this many files at once, each worker with a Drive
  // client of its own; 1 uploads one file at a time on the engine's client.
  static constexpr int kFolderUploadWorkers = 4;
  void SetFolderUploadWorkers(int Count) { FFolderUploadWorkers = Count < 1 ? 1 : Count; }
  int FolderUploadWorkers() const { return FFolderUploadWorkers; }

  TGoogleAuth& GoogleAuth() const { return *FGoogleAuth; }
  TGoogleDrive& GoogleDrive() const { return *FGoogleDrive; }

  // --- helpers without state
  // The message tells of missing disk or Drive space (the loops stop there).
  static bool IsDiskSpaceError(const std::string& Message);
  // ".failed.rar" / ".failed.fbk" / ".failed.bak" in place of the extension.
  static std::string FailedFileName(const std::string& FilePath);
  // The digits after ".part" in the file name; 0 when there are none.
  static int RarVolumeNumber(const std::string& FilePath);
  // A Drive file that is a backup (.bak/.rar/.fbk) and not a failed one.
  static bool IsBackupFileName(const TDriveFileInfo& File);
  // A backup file under a name this plan writes: one of its databases'
  // prefixes followed only by the kind, volume and extension.
  static bool IsPlanDriveBackupFile(const TBackupPlan& Plan, const TDriveFileInfo& File);
  // Folder + file name; "name_1.ext", "name_2.ext" ... while the path is taken.
  static std::string UniqueLocalPath(const std::string& Folder, const std::string& FileName);
  // A name that came from Drive, reduced to a plain file name that cannot
  // leave the folder it is joined with.
  static std::string SafeLocalFileName(const std::string& Name);
  // Where a Drive file named DriveName ("daily\\db.bak", its RelativePath or
  // its Name) is saved below Folder: every part of the name made safe, the
  // sub-folders kept (and created), "_1", "_2" ... while any entry of that
  // name exists. False with Message when a sub-folder cannot be made or is
  // not a plain folder, so nothing is ever written outside Folder.
  static bool MakeUniqueTargetPath(const std::string& Folder, const std::string& DriveName, std::string& Target,
                                   std::string& Message);
  // The suggested local name of a revision: "backup_rev_20240131_235959.bak",
  // or "backup_rev_<Number>.bak" for a revision without a time.
  static std::string RevisionFileName(const std::string& FileName, TDateTime ModifiedTime, int Number);
  // The error a file could not be opened or read with because another
  // program holds it.
  static bool IsLockedFileError(const std::exception& Error);

 protected:
  // --- driver and shared internal operations
  std::string PlanWorkDirectory(const TBackupPlan& Plan) const;
  void EnsureGoogleToken();
  std::string AccountRootFolderId();
  std::string PlanDriveFolderId(const TBackupPlan& Plan);
  // True when the upload may proceed; otherwise Message says why.
  bool CheckDriveQuota(std::int64_t BytesNeeded, std::string& Message);
  void ReportProgress(const TBackupPlan& Plan, const std::string& Stage, const std::string& Message,
                      bool UploadCompleted, const std::string& ActiveFile);
  bool BackupMultipleDatabases(const TBackupPlan& Plan, const std::vector<std::string>& Names,
                               std::string& BackupFilePath, std::string& ResultMessage);
  // Backs up each database in turn (stopping early only when the disk is
  // full) and sums the outcome up in one message; Label names a database there.
  using TSingleBackup = std::function<bool(TBackupPlan&, std::string&, std::string&)>;
  bool BackupEachDatabase(const TBackupPlan& Plan, const std::vector<std::string>& Databases,
                          const std::string& Stage, const std::function<std::string(const std::string&)>& Label,
                          const TSingleBackup& BackupOne, std::string& BackupFilePath, std::string& ResultMessage);

  // --- backup script protocol
  // Runs one script to its end; Payload null is written as "{}".
  bool RunBackupScript(const std::string& ScriptPath, const TJson& Config, const TJson& Payload,
                       const std::string& Mode, std::string& Message, std::string& BackupFilePath);
  bool RunSqlScript(const std::string& Mode, const TJson& Payload, std::string& Message,
                    std::string& BackupFilePath);
  bool RunFirebirdScript(const std::string& Mode, const TJson& Payload, std::string& Message,
                         std::string& BackupFilePath);
  bool RunLockedFileScript(const TJson& Payload, std::string& Message, std::string& BackupFilePath);
  // The database-list variant: its own folder, result not kept.
  TJson RunListDatabasesScript();
  std::string LastScriptString(const std::string& Member) const;
  bool LastScriptBool(const std::string& Member) const;
  const TJson& LastScriptData() const { return FLastScriptData; }
  std::string SqlScriptPath() const;
  std::string FirebirdScriptPath() const;
  std::string LockedFileScriptPath() const;
  TJson SqlScriptConfig() const;
  TJson FirebirdScriptConfig() const;
  // The interpreter the scripts run with.
  std::string ScriptInterpreter() const;

  // --- SQL Server
  bool BackupSqlDatabase(const TBackupPlan& Plan, std::string& BackupFilePath, std::string& ResultMessage);
  std::string SqlBackupFileName(const TBackupPlan& Plan) const;
  std::string SqlBackupKind(const TBackupPlan& Plan) const;

  // --- Firebird
  bool BackupFirebirdPlan(const TBackupPlan& Plan, std::string& BackupFilePath, std::string& ResultMessage);
  bool BackupFirebirdDatabase(const TBackupPlan& Plan, std::string& BackupFilePath, std::string& ResultMessage);

  // --- folder synchronisation and readable copies of locked files
  bool SyncFolderToDrive(const TBackupPlan& Plan, std::string& SourcePath, std::string& Message);
  void ApplyBackupPolicy(const TBackupPlan& Plan, std::vector<std::string>& Files);
  bool CreateReadableCopy(const std::string& Source, std::string& CopyPath, std::string& Error);
  void DeleteReadableCopy(const std::string& CopyPath);

  // --- upload pipeline
  bool UploadBackup(const TBackupPlan& Plan, std::string& BackupFilePath, std::string& Message);
  bool UploadWithRetries(const TBackupPlan& Plan, const std::string& FilePath, std::string& Message);
  bool UploadOneFile(const TBackupPlan& Plan, const std::string& FilePath, std::string& Message);
  bool CreateRarArchive(const TBackupPlan& Plan, const std::string& Source, std::vector<std::string>& Files,
                        std::string& Error);
  // The archiver: rar (program folder, then PATH), else 7-Zip on PATH; the
  // bare name "rar" when none is installed.
  std::string FindRarExecutable() const;

  // --- retention and cleanup
  void ApplyLocalRetention(const TBackupPlan& Plan);
  void ApplyDriveRetention(const TBackupPlan& Plan);
  void CleanupOldFailedFiles(const TBackupPlan& Plan, const std::string& SparePath);

  // --- TDE anomaly detection
  bool EvaluateTdeBaseline(const TBackupPlan& Plan, const std::string& Thumbprint, const std::string& CertName,
                           std::string& Information, std::string& AnomalyText);
  TTdePreCheck RunTdePreCheck(const TBackupPlan& Plan);
  void CheckBackupHeader(const TBackupPlan& Plan, TTdePreCheck& PreCheck);
  bool CombineTdeOutcome(const TBackupPlan& Plan, const TTdePreCheck& PreCheck, const std::string& HeaderError,
                         bool UploadSuccess, const std::string& UploadMessage, const std::string& BackupFilePath,
                         std::string& ResultMessage);

  // --- restore metadata
  void WriteRestoreMetadata(const TBackupPlan& Plan, const std::string& BackupFile);
  void UploadRestoreFile(const std::string& FileName, const std::string& Text);

  // --- Drive browsing
  void CollectDriveFilesRecursive(const std::string& FolderID, const std::string& RelativePrefix,
                                  std::vector<TDriveFileInfo>& Files);
  void CollectPlanFolderBackups(const TBackupPlan& Plan, const std::string& FolderID,
                                std::vector<TDriveFileInfo>& Files);

  TEnv& FEnv;
  TMSSQLBackupConfig FConfig;
  TFirebirdBackupConfig FFirebirdConfig;
  TAppConfig& FAppConfig;
  std::unique_ptr<TGoogleAuth> FGoogleAuth;
  std::unique_ptr<TGoogleDrive> FGoogleDrive;
  TUploadProgress FOnUploadProgress;
  TUploadProgress FOnDownloadProgress;
  TJson FLastScriptData;  // null until a script ran
  int FFolderUploadWorkers = kFolderUploadWorkers;
};

}  // namespace calvora
