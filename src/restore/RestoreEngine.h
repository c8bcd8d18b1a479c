#pragma once
// The restore operations on top of the backup engine: they share its Drive
// folders, token check, scripts and archiver lookup. Internal to the
// restore module; callers use TRestoreService (uRestore.h).
#include "engine/uCloudBackup.h"
#include "restore/uRestore.h"

#include <atomic>
#include <string>
#include <vector>

namespace calvora {

// The restore was cancelled; its text is the user's message.
class ERestoreCancelled : public EAppError {
 public:
  ERestoreCancelled() : EAppError("Geri yukleme iptal edildi.") {}
  const char* ClassName() const noexcept override { return "ERestoreCancelled"; }
};

// A fetched backup: the file the database tools read.
struct TFetchedBackup {
  std::string Path;
  TDateTime ModifiedTime = 0;
};

class TRestoreEngine : public TCloudBackupService {
 public:
  explicit TRestoreEngine(TEnv& Env);

  bool LoadPlans(std::vector<TRestorePlan>& Plans, std::string& Message);
  bool ListBackups(const TRestorePlan& Plan, std::vector<TRestoreBackup>& Backups, std::string& Message);
  bool ListVersions(const TRestoreBackup& Backup, std::vector<TRestoreVersion>& Versions, std::string& Message);
  TRestoreResult Restore(const TRestoreRequest& Request);

  void SetOnProgress(TRestoreProgressEvent Event) { FOnProgress = std::move(Event); }
  void Cancel() { FCancelled = true; }

 private:
  // --- steps shared by every kind
  void Report(const std::string& Stage, const std::string& Text, std::int64_t Done = 0, std::int64_t Total = 0);
  void CheckCancelled() const;
  std::vector<TRestoreBackup> CollectBackups(const TRestorePlan& Plan);
  std::vector<TRestoreVersion> Versions(const TRestoreBackup& Backup);
  // Downloads one Drive file (a revision of it when RevisionID is set) and
  // checks it against the MD5 Drive reported.
  void FetchFile(const std::string& FileID, const std::string& Name, const std::string& RevisionID,
                 const std::string& ExpectedMD5, const std::string& DestPath);
  // The backup at that version as one file in WorkFolder: volumes joined,
  // archives extracted.
  TFetchedBackup FetchBackup(const TRestoreRequest& Request, const TRestoreBackup& Backup,
                             const std::string& RevisionID, const std::string& WorkFolder);
  std::string ExtractArchive(const TRestoreRequest& Request, const std::vector<std::string>& Volumes,
                             const std::string& WorkFolder);
  std::string ArchivePassword(const TRestoreRequest& Request) const;

  // --- kinds
  TRestoreResult RestoreFirebird(const TRestoreRequest& Request, const std::string& WorkFolder);
  TRestoreResult RestoreSqlServer(const TRestoreRequest& Request, const std::string& WorkFolder);
  TRestoreResult RestoreFolder(const TRestoreRequest& Request, const std::string& WorkFolder);
  // The full backup a differential one at that time was made on.
  void FindFullBackup(const TRestoreRequest& Request, TDateTime DiffTime, TRestoreBackup& Full,
                      TRestoreVersion& Version);

  TRestoreProgressEvent FOnProgress;
  std::atomic<bool> FCancelled{false};
};

// Helpers without state (tested on their own).
// Volumes of one split archive share the name before ".partN".
std::string RestoreBackupGroupName(const std::string& FileName);
// Which revision of each later volume belongs to the chosen version of the
// first one: uploaded after it and before the first volume's next version.
// Empty RevisionID in the result: the volume's current content. Stops at
// the first volume without such a version.
struct TVolumeVersion {
  TDriveFileInfo File;
  std::string RevisionID;
  std::string MD5;
};
std::vector<TVolumeVersion> MatchVolumeVersions(const std::vector<TDriveFileInfo>& Volumes,
                                                const std::vector<std::vector<TDriveRevisionInfo>>& Revisions,
                                                const std::string& FirstRevisionID);

}  // namespace calvora
