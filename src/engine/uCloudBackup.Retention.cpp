// Old backups go after LocalBackupRetentionDays, locally and on Drive;
// failed files after FailedFileRetentionHours. Per-file errors are logged
// and the next file is tried.
#include "engine/uCloudBackup.h"

#include "engine/WorkFolderFiles.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <filesystem>
#include <string_view>

namespace calvora {
namespace {

bool IsFailedName(const std::string& name) {
  return EndsText(name, ".failed.bak") || EndsText(name, ".failed.rar") || EndsText(name, ".failed.fbk");
}

bool IsBackupName(const std::string& name) {
  return EndsText(name, ".bak") || EndsText(name, ".rar") || EndsText(name, ".fbk");
}

// Strips `part` from the front of `rest` when it is there (any case).
bool TakeText(std::string_view& rest, std::string_view part) {
  if (!StartsText(rest, part)) return false;
  rest.remove_prefix(part.size());
  return true;
}

// A name the backups of one database carry: the prefix; for SQL Server
// the kind ("_FULL", "_DIFF"); then ".bak" (SQL Server) or ".fbk"
// (Firebird), or the archive ".rar" or its volume ".part<N>.rar"; the
// failure mark ".failed" before the last extension. Another plan's prefix
// may start with this one ("Muhasebe_" and "Muhasebe_2024_"), so nothing
// else may follow the prefix.
bool IsOwnBackupName(const std::string& name, const std::string& prefix, bool firebird) {
  std::string_view rest = name;
  if (!TakeText(rest, prefix)) return false;
  if (!firebird && !TakeText(rest, "_FULL")) TakeText(rest, "_DIFF");
  bool volume = false;
  if (TakeText(rest, ".part")) {
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0) return false;
    rest.remove_prefix(digits);
    volume = true;
  }
  TakeText(rest, ".failed");
  const std::string tail = LowerAscii(std::string(rest));
  if (tail == ".rar") return true;
  return !volume && tail == (firebird ? ".fbk" : ".bak");
}

bool IsOld(const std::string& path, TDateTime cutoff) {
  TDateTime modified = 0;
  return FileModifiedLocal(path, modified) && modified <= cutoff;
}

std::string NormalPath(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace

bool TCloudBackupService::IsBackupFileName(const TDriveFileInfo& File) {
  return !File.FileID.empty() && !File.Name.empty() && File.MimeType != kDriveFolderMimeType &&
         !IsFailedName(File.Name) && IsBackupName(File.Name);
}

bool TCloudBackupService::IsPlanDriveBackupFile(const TBackupPlan& Plan, const TDriveFileInfo& File) {
  if (!IsBackupFileName(File) || IsFolderPlan(Plan)) return false;
  const bool firebird = IsFirebirdPlan(Plan);
  auto writtenFor = [&](const std::string& databaseName) {
    TBackupPlan copy = Plan;
    copy.DatabaseName = databaseName;
    return IsOwnBackupName(File.Name, SafeFilePrefix(copy), firebird);
  };
  if (IsFirebirdFolderPlan(Plan)) {
    for (const std::string& file : FirebirdDatabaseFiles(Plan))
      if (writtenFor(file)) return true;
    return false;
  }
  std::vector<std::string> names = PlanDatabaseList(Plan);
  if (names.size() > 1) {
    for (const std::string& name : names)
      if (writtenFor(name)) return true;
    return false;
  }
  return IsOwnBackupName(File.Name, SafeFilePrefix(Plan), firebird);
}

void TCloudBackupService::ApplyLocalRetention(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan) || Plan.LocalBackupRetentionDays <= 0) return;
  const std::string work = PlanWorkDirectory(Plan);
  if (work.empty() || !DirectoryExists(work)) return;
  const TDateTime cutoff = FEnv.Now() - Plan.LocalBackupRetentionDays;
  const std::string prefix = SafeFilePrefix(Plan);
  const bool firebird = IsFirebirdPlan(Plan);
  const std::string mask = LiteralMask(prefix);
  std::vector<std::string> masks;
  if (firebird) {
    masks = {mask + "*.fbk"};
  } else {
    masks = {mask + "*.bak", mask + "*.rar"};
  }
  for (const std::string& pattern : masks) {
    for (const std::string& path : FilesMatching(work, pattern)) {
      const std::string name = ExtractFileName(path);
      if (!IsOwnBackupName(name, prefix, firebird)) continue;
      if (EndsText(name, ".failed.bak") || EndsText(name, ".failed.rar")) continue;
      try {
        if (!IsOld(path, cutoff)) continue;
        DeleteFileOrThrow(path);
        LogInfoFmt("Eski local backup dosyasi temizlendi: %s", path);
      } catch (const std::exception& e) {
        LogException("Local backup temizleme hatasi: " + path, e);
      }
    }
  }
}

void TCloudBackupService::ApplyDriveRetention(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan) || Plan.LocalBackupRetentionDays <= 0) return;
  EnsureGoogleToken();
  const std::string folder = PlanDriveFolderId(Plan);
  if (folder.empty()) {
    LogWarnFmt("Drive retention atlandi; hedef klasor bulunamadi. Plan: %s", Plan.Name);
    return;
  }
  const TDateTime cutoff = FEnv.Now() - Plan.LocalBackupRetentionDays;
  std::vector<TDriveFileInfo> files;
  std::string listError;
  if (!FGoogleDrive->TryListFiles(folder, files, &listError)) {
    // Nothing is deleted on the strength of a listing Drive did not finish.
    LogWarnFmt("Drive retention atlandi; klasor listelenemedi. Plan: %s | %s", Plan.Name, listError);
    return;
  }
  for (const TDriveFileInfo& file : files) {
    if (file.FileID.empty() || file.Name.empty()) continue;
    try {
      if (file.ModifiedTime <= 0 || file.ModifiedTime > cutoff || !IsPlanDriveBackupFile(Plan, file)) continue;
      if (FGoogleDrive->DeleteFile(file.FileID))
        LogInfoFmt("Eski Drive backup dosyasi silindi: %s (%s)", file.Name, file.FileID);
      else
        LogWarnFmt("Drive backup dosyasi silinemedi: %s (%s)", file.Name, file.FileID);
    } catch (const std::exception& e) {
      LogException("Drive backup temizleme hatasi: " + file.Name, e);
    }
  }
}

void TCloudBackupService::CleanupOldFailedFiles(const TBackupPlan& Plan, const std::string& SparePath) {
  if (IsFolderPlan(Plan) || !Plan.CleanupFailedFiles) return;
  const std::string work = PlanWorkDirectory(Plan);
  if (work.empty() || !DirectoryExists(work)) return;
  const TDateTime cutoff = FEnv.Now() - Plan.FailedFileRetentionHours / 24.0;
  const std::string spare = SparePath.empty() ? std::string() : NormalPath(SparePath);
  for (const char* mask : {"*.failed.bak", "*.failed.rar", "*.failed.fbk"}) {
    for (const std::string& path : FilesMatching(work, mask)) {
      if (!spare.empty() && SameText(NormalPath(path), spare)) continue;
      try {
        if (!IsOld(path, cutoff)) continue;
        DeleteFileOrThrow(path);
        LogInfoFmt("Eski basarisiz backup dosyasi temizlendi: %s", path);
      } catch (const std::exception& e) {
        LogException("Basarisiz backup temizleme hatasi: " + path, e);
      }
    }
  }
}

}  // namespace calvora
