// What the desktop windows show of a plan on Drive, and the downloads of
// files, revisions and all of a plan's backups.
#include "engine/uCloudBackup.h"

#include "foundation/AppError.h"
#include "foundation/DateTime.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace calvora {
namespace {

bool PathTaken(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// A file name may have 255 bytes; a download is first written under the
// name + ".part".
constexpr size_t kMaxLocalNameBytes = 255 - 5;
// A longer "extension" is a part of the name, not a file type.
constexpr size_t kMaxKeptExtensionBytes = 32;

// At most `limit` bytes of valid UTF-8 `text`, ending on a whole character.
std::string Utf8Prefix(const std::string& text, size_t limit) {
  size_t end = 0;
  while (end < text.size()) {
    char32_t codePoint = 0;
    const size_t length = std::max<size_t>(1, DecodeUtf8At(text, end, codePoint));
    if (end + length > limit) break;
    end += length;
  }
  return text.substr(0, end);
}

// stem + suffix + extension within the name limit: the stem gives way, the
// extension stays.
std::string FitName(const std::string& name, const std::string& suffix) {
  std::string ext = ExtractFileExt(name);
  if (ext.size() > kMaxKeptExtensionBytes) ext.clear();
  const std::string stem = name.substr(0, name.size() - ext.size());
  if (stem.size() + suffix.size() + ext.size() <= kMaxLocalNameBytes) return stem + suffix + ext;
  return Utf8Prefix(stem, kMaxLocalNameBytes - suffix.size() - ext.size()) + suffix + ext;
}

}  // namespace

std::string TCloudBackupService::SafeLocalFileName(const std::string& Name) {
  std::string out;
  for (unsigned char c : Name) {
    if (c == '/' || c == '\\') {
      out += '_';
    } else if (c >= 32 && c != 127) {
      out += static_cast<char>(c);
    }
  }
  out = Trim(SanitizeUtf8(out));
  if (out.empty() || out == "." || out == "..") return "dosya";
  return FitName(out, "");
}

std::string TCloudBackupService::UniqueLocalPath(const std::string& Folder, const std::string& FileName) {
  const std::string name = SafeLocalFileName(FileName);
  std::string path = JoinPath(Folder, name);
  if (!PathTaken(path)) return path;
  for (int n = 1;; ++n) {
    path = JoinPath(Folder, FitName(name, Fmt("_%d", n)));
    if (!PathTaken(path)) return path;
  }
}

namespace {

// The name parts that carry a name: "a\\..\\b" and "/etc/x" give no way up
// or to the top, only names below the folder.
std::vector<std::string> SafeNameParts(const std::string& DriveName) {
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    const std::string trimmed = Trim(part);
    if (!trimmed.empty() && trimmed != "." && trimmed != "..")
      parts.push_back(TCloudBackupService::SafeLocalFileName(part));
    part.clear();
  };
  for (char c : DriveName) {
    if (c == '/' || c == '\\')
      flush();
    else
      part += c;
  }
  flush();
  if (parts.empty()) parts.push_back(TCloudBackupService::SafeLocalFileName(""));
  return parts;
}

// A sub-folder we may write into: made here, or an existing real folder
// (never a link that could lead elsewhere).
bool EnsurePlainFolder(const std::string& path, std::string& message) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (std::filesystem::exists(status)) {
    if (std::filesystem::is_directory(status)) return true;
    message = "Hedef alt klasor kullanilamiyor: " + path;
    return false;
  }
  if (std::filesystem::create_directory(path, ec) || std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
    return true;
  message = "Hedef alt klasor olusturulamadi: " + path;
  return false;
}

// Below Folder by its very spelling: no part goes up or starts over at the top.
bool StaysBelow(const std::string& folder, const std::string& path) {
  const auto relative = std::filesystem::path(path).lexically_normal().lexically_relative(
      std::filesystem::path(folder).lexically_normal());
  if (relative.empty() || relative.is_absolute()) return false;
  for (const auto& part : relative)
    if (part == ".." || part == ".") return false;
  return true;
}

}  // namespace

bool TCloudBackupService::MakeUniqueTargetPath(const std::string& Folder, const std::string& DriveName,
                                               std::string& Target, std::string& Message) {
  Target.clear();
  Message.clear();
  try {
    if (IsBlank(Folder) || !DirectoryExists(Folder)) {
      Message = "Indirme klasoru bulunamadi: " + Folder;
      return false;
    }
    const std::vector<std::string> parts = SafeNameParts(DriveName);
    std::string dir = ExcludeTrailingSeparator(Folder);
    if (dir.empty()) dir = "/";
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      dir = JoinPath(dir, parts[i]);
      if (!EnsurePlainFolder(dir, Message)) return false;
    }
    const std::string& name = parts.back();
    std::string path = JoinPath(dir, name);
    for (int n = 1; PathTaken(path); ++n) path = JoinPath(dir, FitName(name, Fmt("_%d", n)));
    if (!StaysBelow(Folder, path)) {
      Message = "Hedef yol secilen klasorun disina cikiyor: " + DriveName;
      return false;
    }
    Target = path;
    return true;
  } catch (const std::exception& e) {
    Message = e.what();
    LogException("Indirme hedef yolu olusturulamadi", e);
    return false;
  }
}

std::string TCloudBackupService::RevisionFileName(const std::string& FileName, TDateTime ModifiedTime, int Number) {
  const std::string name = SafeLocalFileName(FileName);
  std::string ext = ExtractFileExt(name);
  const std::string base = name.substr(0, name.size() - ext.size());
  std::string stamp;
  if (ModifiedTime > 0) {
    const TDateTimeParts p = DecodeDateTime(ModifiedTime);
    stamp = Fmt("%04d%02d%02d_%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  } else {
    stamp = std::to_string(Number);
  }
  return FitName(base + "_rev_" + stamp + ext, "");
}

void TCloudBackupService::CollectDriveFilesRecursive(const std::string& FolderID, const std::string& RelativePrefix,
                                                     std::vector<TDriveFileInfo>& Files) {
  std::vector<TDriveFileInfo> children;
  // An unanswered listing must not read as an empty folder.
  std::string listError;
  if (!FGoogleDrive->TryListFiles(FolderID, children, &listError))
    throw EDriveError("Drive dosya listesi alinamadi. " + listError);
  for (TDriveFileInfo& child : children) {
    if (child.FileID.empty() || child.Name.empty()) continue;
    const std::string rel = RelativePrefix.empty() ? child.Name : RelativePrefix + "\\" + child.Name;
    if (child.MimeType == kDriveFolderMimeType) {
      CollectDriveFilesRecursive(child.FileID, rel, Files);
    } else {
      child.RelativePath = rel;
      Files.push_back(child);
    }
  }
}

void TCloudBackupService::CollectPlanFolderBackups(const TBackupPlan& Plan, const std::string& FolderID,
                                                   std::vector<TDriveFileInfo>& Files) {
  std::vector<TDriveFileInfo> children;
  std::string listError;
  if (!FGoogleDrive->TryListFiles(FolderID, children, &listError))
    throw EDriveError("Drive dosya listesi alinamadi. " + listError);
  const size_t before = Files.size();
  for (TDriveFileInfo child : children) {
    if (!IsPlanDriveBackupFile(Plan, child)) continue;
    child.RelativePath = child.Name;
    Files.push_back(child);
  }
  if (Files.size() != before) return;
  for (TDriveFileInfo child : children) {
    if (!IsBackupFileName(child)) continue;
    child.RelativePath = child.Name;
    Files.push_back(child);
  }
}

bool TCloudBackupService::ListPlanDriveBackups(const TBackupPlan& Plan, std::vector<TDriveFileInfo>& Files,
                                               std::string& ResultMessage) {
  Files.clear();
  ResultMessage.clear();
  try {
    EnsureGoogleToken();
    const std::string root = AccountRootFolderId();
    const std::string folder =
        IsBlank(Plan.DriveSubFolder) ? root : FGoogleDrive->EnsureFolderPath(root, Plan.DriveSubFolder);
    if (folder.empty()) throw EAppError("Drive hedef klasoru bulunamadi.");
    auto collect = [&](const std::string& id) {
      if (IsFolderPlan(Plan))
        CollectDriveFilesRecursive(id, "", Files);
      else
        CollectPlanFolderBackups(Plan, id, Files);
    };
    collect(folder);
    bool fromRoot = false;
    if (Files.empty() && !IsBlank(Plan.DriveSubFolder) && !root.empty() && !SameText(root, folder)) {
      collect(root);
      fromRoot = !Files.empty();
    }
    std::stable_sort(Files.begin(), Files.end(), [](const TDriveFileInfo& a, const TDriveFileInfo& b) {
      if (a.ModifiedTime != b.ModifiedTime) return a.ModifiedTime > b.ModifiedTime;
      return FoldCase(a.Name) < FoldCase(b.Name);
    });
    if (Files.empty())
      ResultMessage = "Bu plan icin Drive tarafinda yedek dosyasi bulunamadi (.bak/.rar/.fbk).";
    else if (fromRoot)
      ResultMessage = "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.";
    return true;
  } catch (const std::exception& e) {
    Files.clear();
    ResultMessage = e.what();
    LogException("Drive plan dosya listeleme hatasi", e);
    return false;
  }
}

bool TCloudBackupService::DownloadDriveBackupFile(const TDriveFileInfo& FileInfo, const std::string& DestPath,
                                                  std::string& ResultMessage) {
  ResultMessage.clear();
  try {
    if (IsBlank(FileInfo.FileID)) throw EAppError("Indirilecek Drive dosya ID bos.");
    if (IsBlank(DestPath)) throw EAppError("Indirme hedef yolu bos.");
    if (FGoogleDrive->DownloadFile(Trim(FileInfo.FileID), DestPath, FOnDownloadProgress)) {
      ResultMessage = "Dosya indirildi: " + DestPath;
      return true;
    }
    ResultMessage = "Drive dosyasi indirilemedi: " + FileInfo.Name;
    return false;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    LogException("Drive secili dosya indirme hatasi", e);
    return false;
  }
}

bool TCloudBackupService::DownloadPlanBackups(const TBackupPlan& Plan, const std::string& DestDir,
                                              std::string& ResultMessage) {
  ResultMessage.clear();
  if (IsBlank(DestDir)) {
    ResultMessage = "Indirme klasoru secilmedi.";
    return false;
  }
  try {
    if (!ForceDirectories(DestDir)) throw EAppError("Indirme klasoru olusturulamadi: " + DestDir);
    std::vector<TDriveFileInfo> files;
    std::string listMessage;
    if (!ListPlanDriveBackups(Plan, files, listMessage)) {
      ResultMessage = listMessage;
      return false;
    }
    if (files.empty()) {
      ResultMessage = "Bu plan icin Drive tarafinda indirilecek .bak/.rar yedek bulunamadi.";
      return false;
    }
    std::int64_t total = 0;
    for (const TDriveFileInfo& file : files) total = AddByteCounts(total, file.Size);
    if (FOnDownloadProgress) FOnDownloadProgress(0, total);

    int downloaded = 0;
    int failed = 0;
    std::int64_t done = 0;
    for (const TDriveFileInfo& file : files) {
      const std::string local = UniqueLocalPath(DestDir, file.Name);
      ReportProgress(Plan, "Download", "Drive yedegi indiriliyor: " + file.Name, false, local);
      std::string message;
      if (DownloadDriveBackupFile(file, local, message)) {
        ++downloaded;
        done = AddByteCounts(done, file.Size);
        if (FOnDownloadProgress) FOnDownloadProgress(done, total);
        LogInfoFmt("Drive yedegi indirildi: %s -> %s", file.Name, local);
      } else {
        ++failed;
        LogWarnFmt("Drive yedegi indirilemedi: %s", file.Name);
      }
    }
    ResultMessage = Fmt("%d yedek indirildi, %d hata. Klasor: %s", downloaded, failed, DestDir);
    const bool ok = failed == 0;
    ReportProgress(Plan, ok ? "Download Tamamlandi" : "Download Hata", ResultMessage, ok, DestDir);
    return ok;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    ReportProgress(Plan, "Download Hata", ResultMessage, false, DestDir);
    LogException("Drive yedek download hatasi", e);
    return false;
  }
}

bool TCloudBackupService::ListDriveFileRevisions(const std::string& FileID, std::vector<TDriveRevisionInfo>& Revisions,
                                                 std::string& ResultMessage) {
  Revisions.clear();
  ResultMessage.clear();
  try {
    if (IsBlank(FileID)) throw EAppError("Drive dosya kimligi bos.");
    EnsureGoogleToken();
    Revisions = FGoogleDrive->ListFileRevisions(Trim(FileID));
    if (Revisions.empty()) ResultMessage = "Bu dosya icin Drive tarafinda surum kaydi bulunamadi.";
    return true;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    LogException("Drive surum listeleme hatasi", e);
    return false;
  }
}

bool TCloudBackupService::DownloadDriveFileRevision(const std::string& FileID, const std::string& RevisionID,
                                                    const std::string& DestPath, std::string& ResultMessage) {
  ResultMessage.clear();
  try {
    if (IsBlank(FileID)) throw EAppError("Indirilecek Drive dosya kimligi bos.");
    if (IsBlank(RevisionID)) throw EAppError("Indirilecek surum kimligi bos.");
    if (IsBlank(DestPath)) throw EAppError("Indirme hedef yolu bos.");
    EnsureGoogleToken();
    if (FGoogleDrive->DownloadFileRevision(Trim(FileID), Trim(RevisionID), DestPath, FOnDownloadProgress)) {
      ResultMessage = "Surum indirildi: " + DestPath;
      return true;
    }
    ResultMessage = "Drive surumu indirilemedi.";
    return false;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    LogException("Drive surum indirme hatasi", e);
    return false;
  }
}

int TCloudBackupService::PinnedRevisionCount(const std::vector<TDriveRevisionInfo>& Revisions) {
  return static_cast<int>(std::count_if(Revisions.begin(), Revisions.end(),
                                        [](const TDriveRevisionInfo& r) { return r.KeepForever; }));
}

bool TCloudBackupService::SetDriveRevisionKeepForever(const std::string& FileID, const std::string& RevisionID,
                                                      bool KeepForever, std::string& ResultMessage) {
  ResultMessage.clear();
  try {
    if (IsBlank(FileID)) throw EAppError("Drive dosya kimligi bos.");
    if (IsBlank(RevisionID)) throw EAppError("Surum kimligi bos.");
    EnsureGoogleToken();
    if (KeepForever) {
      // Drive refuses the 201st pin; saying so before asking names the way out.
      const std::vector<TDriveRevisionInfo> revisions = FGoogleDrive->ListFileRevisions(Trim(FileID));
      const auto self = std::find_if(revisions.begin(), revisions.end(),
                                     [&](const TDriveRevisionInfo& r) { return r.RevisionID == Trim(RevisionID); });
      const bool pinnedAlready = self != revisions.end() && self->KeepForever;
      if (!pinnedAlready && PinnedRevisionCount(revisions) >= kMaxPinnedRevisions)
        throw EAppError(Fmt("Bu dosyanin %d surumu zaten kalici saklaniyor; Drive bir dosyanin en fazla %d surumunu "
                            "kalici saklar. Once eski bir surumun sabitlemesini kaldirin.",
                            kMaxPinnedRevisions, kMaxPinnedRevisions));
    }
    if (!FGoogleDrive->SetRevisionKeepForever(Trim(FileID), Trim(RevisionID), KeepForever)) {
      ResultMessage = "Drive surum sabitlemesi degistirilemedi.";
      return false;
    }
    ResultMessage = KeepForever ? "Surum kalici olarak saklanacak."
                                : "Surumun sabitlemesi kaldirildi; Drive eski surumleri zamani gelince siler.";
    LogInfoFmt("Drive surum sabitlemesi: %s %s %s", Trim(FileID), Trim(RevisionID), KeepForever ? "acik" : "kapali");
    return true;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    LogException("Drive surum sabitleme hatasi", e);
    return false;
  }
}

}  // namespace calvora
