// Folder plans: the plan's Drive tree, one of its sub-folders or one file
// at a chosen revision, into a folder the user names. Every name from Drive
// is reduced to a plain file name, no link on the way is followed, and the
// files are first fetched and checked; only then are they put in place, so
// a failure takes back every file written and every file replaced.
#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "restore/RestoreEngine.h"

#include <cstdio>
#include <filesystem>
#include <set>

namespace calvora {
namespace {

struct TPlacement {
  TRestoreBackup Source;
  std::string RevisionID;
  std::string Local;  // in the work folder
  std::string Target;
};

// What the commit did, for taking it back.
struct TCommitLog {
  std::vector<std::string> CreatedFolders;
  std::vector<std::string> CreatedFiles;
  std::vector<std::pair<std::string, std::string>> Replaced;  // target, its old content's name
};

enum class TNodeKind { Missing, File, Folder, Other };

TNodeKind NodeKind(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (ec || status.type() == std::filesystem::file_type::not_found) return TNodeKind::Missing;
  if (status.type() == std::filesystem::file_type::regular) return TNodeKind::File;
  if (status.type() == std::filesystem::file_type::directory) return TNodeKind::Folder;
  return TNodeKind::Other;  // links included: never followed
}

std::vector<std::string> SubFolderParts(const std::string& subFolder) {
  std::vector<std::string> parts;
  for (const std::string& part : Split(ReplaceAll(subFolder, "/", "\\"), '\\'))
    if (!Trim(part).empty()) parts.push_back(TCloudBackupService::SafeLocalFileName(part));
  return parts;
}

// Copies into a new file beside the target and renames it into place.
void PutInPlace(const std::string& local, const std::string& target, TCommitLog& log) {
  const std::string temp = JoinPath(ExtractFileDir(target), "." + RandomAlphaNumeric(10) + ".restore");
  std::filesystem::copy_file(local, temp);  // fails when the name is taken
  if (NodeKind(target) == TNodeKind::File) {
    const std::string old = JoinPath(ExtractFileDir(target), "." + RandomAlphaNumeric(10) + ".old");
    if (std::rename(target.c_str(), old.c_str()) != 0) {
      DeleteFileIfExists(temp);
      throw EFileError("Mevcut dosya kenara alinamadi: " + target);
    }
    log.Replaced.emplace_back(target, old);
  } else {
    log.CreatedFiles.push_back(target);
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    DeleteFileIfExists(temp);
    throw EFileError("Dosya yerine konamadi: " + target);
  }
}

void TakeBack(const TCommitLog& log) {
  for (const std::string& file : log.CreatedFiles) DeleteFileIfExists(file);
  for (const auto& [target, old] : log.Replaced)
    if (std::rename(old.c_str(), target.c_str()) != 0) LogErrorFmt("Geri yukleme: eski dosya geri konamadi: %s", target);
  std::error_code ec;  // a folder that is not empty stays
  for (auto it = log.CreatedFolders.rbegin(); it != log.CreatedFolders.rend(); ++it) std::filesystem::remove(*it, ec);
}

}  // namespace

TRestoreResult TRestoreEngine::RestoreFolder(const TRestoreRequest& Request, const std::string& WorkFolder) {
  TRestoreResult result;
  const std::string root = ExcludeTrailingSeparator(Trim(Request.TargetPath));
  if (root.empty()) throw EAppError("Geri yukleme hedef klasoru secilmedi.");
  if (NodeKind(root) != TNodeKind::Missing && !DirectoryExists(root))
    throw EAppError("Geri yukleme hedefi bir klasor degil: " + root);

  // What goes where.
  std::vector<TPlacement> placements;
  if (!Request.Backup.Files.empty()) {
    const std::string name = SafeLocalFileName(Request.Backup.Name);
    placements.push_back({Request.Backup, Request.RevisionID, std::string(), JoinPath(root, name)});
  } else {
    const std::vector<std::string> sub = SubFolderParts(Request.SubFolder);
    std::set<std::string> taken;
    for (const TRestoreBackup& backup : CollectBackups(Request.Plan)) {
      if (backup.PathParts.size() <= sub.size() || !std::equal(sub.begin(), sub.end(), backup.PathParts.begin()))
        continue;
      std::string target = root;
      for (size_t i = sub.size(); i < backup.PathParts.size(); ++i) target = JoinPath(target, backup.PathParts[i]);
      if (!taken.insert(target).second) {
        LogWarnFmt("Geri yukleme: ayni yere dusen eski dosya atlandi: %s", backup.RelativePath);
        continue;  // newest first: the first one stays
      }
      placements.push_back({backup, std::string(), std::string(), target});
    }
    if (placements.empty())
      throw EAppError(Request.SubFolder.empty() ? "Bu plan icin Drive tarafinda dosya bulunamadi."
                                                : "Drive'da bu alt klasor bulunamadi: " + Request.SubFolder);
  }

  // Existing files are replaced only with consent; links and folders never.
  for (const TPlacement& p : placements) {
    for (std::string folder = ExtractFileDir(p.Target); folder.size() > root.size(); folder = ExtractFileDir(folder)) {
      const TNodeKind kind = NodeKind(folder);
      if (kind != TNodeKind::Missing && kind != TNodeKind::Folder)
        throw EAppError("Hedefte klasor yerine baska bir sey var (baglanti izlenmez): " + folder);
    }
    const TNodeKind kind = NodeKind(p.Target);
    if (kind == TNodeKind::Folder || kind == TNodeKind::Other)
      throw EAppError("Hedefte dosya yerine klasor veya baglanti var: " + p.Target);
    if (kind == TNodeKind::File && !Request.ReplaceExisting) result.Conflicts.push_back(p.Target);
  }
  if (!result.Conflicts.empty()) {
    result.Message = Fmt("Hedefte ayni adli %d dosya var; uzerine yazmak icin onay gerekli. Ilk: %s",
                         result.Conflicts.size(), result.Conflicts.front());
    return result;
  }

  // Fetch and check everything first.
  const std::string downloads = JoinPath(WorkFolder, "files");
  if (!ForceDirectories(downloads)) throw EFileError("Klasor olusturulamadi: " + downloads);
  std::int64_t total = 0, done = 0;
  for (const TPlacement& p : placements) total = AddByteCounts(total, p.Source.Size);
  EnsureGoogleToken();
  for (size_t i = 0; i < placements.size(); ++i) {
    TPlacement& p = placements[i];
    const TDriveFileInfo& file = p.Source.Files.front();
    std::string md5 = file.MD5;
    if (!p.RevisionID.empty()) {
      md5.clear();
      for (const TDriveRevisionInfo& r : FGoogleDrive->ListFileRevisions(file.FileID))
        if (r.RevisionID == p.RevisionID) md5 = r.MD5;
    }
    p.Local = JoinPath(downloads, Fmt("%06d", i));
    FetchFile(file.FileID, p.Source.RelativePath.empty() ? file.Name : p.Source.RelativePath, p.RevisionID, md5,
              p.Local);
    done = AddByteCounts(done, p.Source.Size);
    Report("Klasor", Fmt("%d / %d dosya indirildi.", i + 1, placements.size()), done, total);
  }
  CheckCancelled();

  // Then put them in place; any failure takes back what was done.
  TCommitLog log;
  try {
    if (NodeKind(root) == TNodeKind::Missing) {
      std::vector<std::string> missing;
      for (std::string f = root; !f.empty() && NodeKind(f) == TNodeKind::Missing; f = ExtractFileDir(f))
        missing.insert(missing.begin(), f);
      if (!ForceDirectories(root)) throw EFileError("Hedef klasor olusturulamadi: " + root);
      log.CreatedFolders = missing;
    }
    for (const TPlacement& p : placements) {
      CheckCancelled();
      std::vector<std::string> folders;
      for (std::string f = ExtractFileDir(p.Target); f.size() > root.size(); f = ExtractFileDir(f))
        folders.insert(folders.begin(), f);
      for (const std::string& folder : folders) {
        const TNodeKind kind = NodeKind(folder);
        if (kind == TNodeKind::Folder) continue;
        std::error_code ec;
        if (kind != TNodeKind::Missing || !std::filesystem::create_directory(folder, ec))
          throw EFileError("Klasor olusturulamadi: " + folder);
        log.CreatedFolders.push_back(folder);
      }
      PutInPlace(p.Local, p.Target, log);
      result.Restored.push_back(p.Target);
      LogInfoFmt("Geri yukleme: dosya yazildi %s", p.Target);
    }
  } catch (...) {
    TakeBack(log);
    result.Restored.clear();
    throw;
  }
  for (const auto& replaced : log.Replaced) DeleteFileIfExists(replaced.second);
  result.Success = true;
  result.Message = Fmt("%d dosya geri yuklendi: %s", result.Restored.size(), root);
  return result;
}

}  // namespace calvora
