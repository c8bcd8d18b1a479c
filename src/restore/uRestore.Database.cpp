// Database restores: a Firebird backup into a new database file through
// the Firebird script (gbak -c, then an open check), a SQL Server backup
// through the SQL Server script (RESTORE ... WITH MOVE; a differential one
// on top of its full backup). The scripts get the passwords in their
// private config files and hand them to the tools in the environment.
#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "restore/RestoreEngine.h"

#include <filesystem>

namespace calvora {
namespace {

bool IsWindowsPath(const std::string& path) {
  return path.find('\\') != std::string::npos || (path.size() >= 2 && path[1] == ':');
}

// Folder and name of a path as the database server writes it.
void SplitServerPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t pos = path.find_last_of(IsWindowsPath(path) ? "\\/" : "/");
  folder = pos == std::string::npos ? std::string() : path.substr(0, pos);
  name = pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string JoinServerPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (EndsWith(folder, "\\") || EndsWith(folder, "/")) return folder + name;
  return folder + (IsWindowsPath(folder) ? "\\" : "/") + name;
}

bool IsDifferentialName(const std::string& name) { return ContainsText(name, "_DIFF."); }

std::string FullBackupName(const std::string& diffName) {
  const std::string lower = LowerAscii(diffName);
  const size_t pos = lower.rfind("_diff.");
  return diffName.substr(0, pos) + "_FULL" + diffName.substr(pos + 5);
}

}  // namespace

std::vector<TRestoreDbFile> TRestoreService::PlanFileMoves(const TRestoreMetadata& Metadata,
                                                           const std::string& DatabaseName,
                                                           const std::string& DataFolder,
                                                           const std::string& LogFolder) {
  const std::string target = Trim(DatabaseName).empty() ? Metadata.DatabaseName : Trim(DatabaseName);
  const bool renamed = !SameText(target, Metadata.DatabaseName);
  std::vector<TRestoreDbFile> moves;
  for (const TRestoreDbFile& file : Metadata.DbFiles) {
    std::string folder, name;
    SplitServerPath(file.PhysicalName, folder, name);
    const bool log = SameText(Trim(file.FileType), "L");
    const std::string chosen = Trim(log ? LogFolder : DataFolder);
    if (!chosen.empty()) folder = chosen;
    if (renamed) {
      // The original's files stay where they are: a new name gets new files.
      name = StartsText(name, Metadata.DatabaseName) ? target + name.substr(Metadata.DatabaseName.size())
                                                      : target + "_" + name;
    }
    moves.push_back(TRestoreDbFile{file.LogicalName, JoinServerPath(folder, name), file.FileType});
  }
  return moves;
}

TRestoreResult TRestoreEngine::RestoreFirebird(const TRestoreRequest& Request, const std::string& WorkFolder) {
  TRestoreResult result;
  const std::string target = Trim(Request.TargetPath);
  if (target.empty()) throw EAppError("Geri yuklenecek veritabani dosyasinin yolu bos.");
  if (!FFirebirdConfig.Enabled && !Request.Firebird)
    LogWarn("Geri yukleme: Firebird ayarlari etkin degil; kayitli baglanti bilgileri kullaniliyor.");
  if ((FileExists(target) || DirectoryExists(target)) && !Request.ReplaceExisting) {
    result.Conflicts = {target};
    result.Message = "Hedef veritabani dosyasi zaten var: " + target + ". Uzerine yazmak icin onay gerekli.";
    return result;
  }
  const TFetchedBackup backup = FetchBackup(Request, Request.Backup, Request.RevisionID, WorkFolder);
  CheckCancelled();
  Report("Firebird", "Veritabani geri yukleniyor (gbak -c): " + target);
  LogInfoFmt("Geri yukleme: Firebird veritabani olusturuluyor %s", target);
  TJson payload = TJson::object();
  payload["backupFilePath"] = backup.Path;
  payload["databasePath"] = target;
  payload["replace"] = Request.ReplaceExisting;
  std::string message, ignored;
  const bool ok = RunFirebirdScript("restore", payload, message, ignored);
  if (!ok) {
    if (LastScriptBool("exists")) result.Conflicts = {target};
    result.Message = message;
    return result;
  }
  result.Success = true;
  result.Restored = {target};
  result.Message = "Firebird veritabani geri yuklendi: " + target;
  return result;
}

void TRestoreEngine::FindFullBackup(const TRestoreRequest& Request, TDateTime DiffTime, TRestoreBackup& Full,
                                    TRestoreVersion& Version) {
  const std::string fullName = FullBackupName(Request.Backup.Name);
  if (Request.FullBackup) {
    Full = *Request.FullBackup;
  } else {
    bool found = false;
    for (const TRestoreBackup& backup : CollectBackups(Request.Plan))
      if (SameText(backup.Name, fullName)) {
        Full = backup;
        found = true;
      }
    if (!found) throw EAppError("Fark yedeginin tam yedegi Drive'da bulunamadi: " + fullName);
  }
  // The newest full backup that was there when the differential was made.
  const TRestoreVersion* best = nullptr;
  const std::vector<TRestoreVersion> versions = Versions(Full);
  for (const TRestoreVersion& v : versions)
    if (v.ModifiedTime <= DiffTime && (!best || v.ModifiedTime > best->ModifiedTime)) best = &v;
  if (!best) throw EAppError("Fark yedeginden once alinmis tam yedek bulunamadi: " + fullName);
  Version = *best;
  LogInfoFmt("Geri yukleme: fark yedegi %s, tam yedek %s (%s) uzerine yuklenecek.", Request.Backup.Name, fullName,
             FormatDateTime(Version.ModifiedTime));
}

TRestoreResult TRestoreEngine::RestoreSqlServer(const TRestoreRequest& Request, const std::string& WorkFolder) {
  TRestoreResult result;
  const TRestoreMetadata* metadata = Request.Plan.MetadataFor(Request.Backup.Name);
  TRestoreMetadata fallback;
  if (!metadata) {
    fallback.DatabaseName = Request.Plan.Plan.DatabaseName;
    metadata = &fallback;
  }
  const std::string database = Trim(Request.DatabaseName).empty() ? metadata->DatabaseName : Trim(Request.DatabaseName);
  if (database.empty()) throw EAppError("Geri yuklenecek veritabani adi bos.");
  const std::vector<TRestoreDbFile> moves =
      TRestoreService::PlanFileMoves(*metadata, database, Request.DataFolder, Request.LogFolder);
  if (moves.empty() && !SameText(database, metadata->DatabaseName))
    throw EAppError("Yedegin veri ve log dosyalari (MDF/LDF) bilinmiyor; yeni adla geri yuklenemez.");

  std::vector<std::string> chain;
  const std::string sqlWork = JoinPath(WorkFolder, "sql");
  if (!ForceDirectories(sqlWork)) throw EFileError("Klasor olusturulamadi: " + sqlWork);
  if (IsDifferentialName(Request.Backup.Name)) {
    std::vector<TRestoreVersion> versions = Versions(Request.Backup);
    TDateTime diffTime = 0;
    for (const TRestoreVersion& v : versions)
      if ((Request.RevisionID.empty() && v.Current) || v.RevisionID == Request.RevisionID) diffTime = v.ModifiedTime;
    TRestoreBackup full;
    TRestoreVersion fullVersion;
    FindFullBackup(Request, diffTime, full, fullVersion);
    const std::string fullWork = JoinPath(sqlWork, "full");
    ForceDirectories(fullWork);
    chain.push_back(FetchBackup(Request, full, fullVersion.Current ? std::string() : fullVersion.RevisionID, fullWork).Path);
  }
  const std::string mainWork = JoinPath(sqlWork, "main");
  ForceDirectories(mainWork);
  chain.push_back(FetchBackup(Request, Request.Backup, Request.RevisionID, mainWork).Path);
  CheckCancelled();

  // The server reads the files itself: where its backup folder is set, the
  // files go there for the restore and are removed after it.
  std::vector<std::string> staged;
  TScopeExit dropStaged([&] {
    for (const std::string& file : staged) DeleteFileIfExists(file);
  });
  const std::string serverFolder = Trim(FConfig.BackupOutputDir);
  if (!serverFolder.empty()) {
    const std::string folder = JoinPath(serverFolder, "CalvoraRestore");
    if (!ForceDirectories(folder)) throw EFileError("Klasor olusturulamadi: " + folder);
    for (std::string& file : chain) {
      const std::string copy = UniqueLocalPath(folder, ExtractFileName(file));
      std::filesystem::copy_file(file, copy);
      staged.push_back(copy);
      file = copy;
    }
  }

  Report("SQL Server", Fmt("%s veritabani geri yukleniyor (%d yedek).", database, chain.size()));
  LogInfoFmt("Geri yukleme: SQL Server veritabani %s, %d yedek dosyasi", database, chain.size());
  TJson payload = TJson::object();
  payload["databaseName"] = database;
  payload["backupFiles"] = chain;
  TJson list = TJson::array();
  for (const TRestoreDbFile& move : moves)
    list.push_back(TJson{{"logicalName", move.LogicalName}, {"physicalName", move.PhysicalName}});
  payload["moves"] = list;
  payload["replace"] = Request.ReplaceExisting;
  std::string message, ignored;
  if (!RunSqlScript("restore", payload, message, ignored)) {
    if (LastScriptBool("exists")) result.Conflicts = {database};
    result.Message = message;
    return result;
  }
  result.Success = true;
  result.Restored = {database};
  result.Message = message.empty() ? "SQL Server veritabani geri yuklendi: " + database : message;
  return result;
}

}  // namespace calvora
