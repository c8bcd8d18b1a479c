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

namespace calvora {
namespace {

bool IsFailedName(const std::string& name) {
  return EndsText(name, ".failed.bak") || EndsText(name, ".failed.rar") || EndsText(name, ".failed.fbk");
}

bool IsBackupName(const std::string& name) {
  return EndsText(name, ".bak") || EndsText(name, ".rar") || EndsText(name, ".fbk");
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
  auto startsWithPrefixOf = [&](const std::string& databaseName) {
    TBackupPlan copy = Plan;
    copy.DatabaseName = databaseName;
    return StartsText(File.Name, SafeFilePrefix(copy));
  };
  if (IsFirebirdFolderPlan(Plan)) {
    for (const std::string& file : FirebirdDatabaseFiles(Plan))
      if (startsWithPrefixOf(file)) return true;
    return false;
  }
  std::vector<std::string> names = PlanDatabaseList(Plan);
  if (names.size() > 1) {
    for (const std::string& name : names)
      if (startsWithPrefixOf(name)) return true;
    return false;
  }
  return StartsText(File.Name, SafeFilePrefix(Plan));
}

void TCloudBackupService::ApplyLocalRetention(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan) || Plan.LocalBackupRetentionDays <= 0) return;
  const std::string work = PlanWorkDirectory(Plan);
  if (work.empty() || !DirectoryExists(work)) return;
  const TDateTime cutoff = FEnv.Now() - Plan.LocalBackupRetentionDays;
  const std::string prefix = LiteralMask(SafeFilePrefix(Plan));
  std::vector<std::string> masks;
  if (IsFirebirdPlan(Plan)) {
    masks = {prefix + "*.fbk"};
  } else {
    masks = {prefix + "*.bak", prefix + "*.rar"};
  }
  for (const std::string& mask : masks) {
    for (const std::string& path : FilesMatching(work, mask)) {
      const std::string name = ExtractFileName(path);
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
