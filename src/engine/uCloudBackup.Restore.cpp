// Restore information after each successful upload, and the way back: all
// restore information of the account fetched from Drive into the data
// folder.
#include "engine/uCloudBackup.h"

#include "engine/WorkFolderFiles.h"
#include "engine/uRestoreMetadata.h"
#include "foundation/AppError.h"
#include "foundation/PrivateTemp.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"

#include <filesystem>

namespace calvora {

void TCloudBackupService::WriteRestoreMetadata(const TBackupPlan& Plan, const std::string& BackupFile) {
  try {
    const std::string prefix = SafeFilePrefix(Plan);
    const bool folderPlan = IsFolderPlan(Plan);
    const bool firebirdPlan = IsFirebirdPlan(Plan);
    TRestoreMetadata metadata;
    metadata.PlanID = Plan.ID;
    metadata.PlanName = Plan.Name;
    metadata.BackupType = NormalizeBackupType(Plan.BackupType);
    metadata.DatabaseName = Plan.DatabaseName;
    metadata.SourceFolder = Plan.SourceFolder;
    metadata.DriveSubFolder = Plan.DriveSubFolder;
    metadata.Server = folderPlan ? std::string() : firebirdPlan ? FFirebirdConfig.Server : FConfig.Server;
    metadata.BackupFileName = ExtractFileName(BackupFile);
    metadata.RarEncrypted = !folderPlan && Plan.UseRarEncryption;
    metadata.UseCompression = Plan.UseCompression;
    if (!folderPlan && !firebirdPlan) {
      if (FLastScriptData.is_object()) {
        auto list = FLastScriptData.find("bakFileList");
        if (list != FLastScriptData.end()) metadata.DbFiles = RestoreDbFilesFromJson(*list);
      }
      if (metadata.DbFiles.empty())
        LogWarnFmt("Yedek dosya listesi (MDF/LDF) metadata'ya alinamadi (%s): %s", Plan.DatabaseName,
                   LastScriptString("bakFileListError"));
    }
    metadata.CreatedAt = FEnv.Now();
    metadata.ComputerName = platform::ComputerName();

    SaveRestoreMetadataLocal(FEnv.DataDir(), prefix, metadata);
    UploadRestoreFile(prefix + kRestoreInfoSuffix, JsonToText(RestoreMetadataToJson(metadata)));

    std::vector<TBackupPlan> plans = TBackupPlanStore(FEnv).LoadPlans();
    if (!plans.empty()) UploadRestoreFile(kPlansExportFileName, PlansExportJson(plans));
  } catch (const std::exception& e) {
    LogException("Geri yukleme metadata kaydi basarisiz (yedek etkilenmedi)", e);
  }
}

void TCloudBackupService::UploadRestoreFile(const std::string& FileName, const std::string& Text) {
  // The Drive file takes the local file's name, so each upload gets a folder
  // of its own: two engines writing the same name never meet.
  const std::string folder = PrivateTempFolder(FEnv, {"CalvoraBackup", "meta_" + RandomAlphaNumeric(11)});
  const std::string temp = JoinPath(folder, FileName);
  TScopeExit cleanup([&] {
    DeleteFileIfExists(temp);
    std::error_code ec;
    std::filesystem::remove(folder, ec);
  });
  WriteTextFile(temp, Text, true);

  const std::string driveFolder = FGoogleDrive->EnsureFolderPath(AccountRootFolderId(), kRestoreMetaFolderName);
  if (driveFolder.empty()) throw EAppError("Drive restoremeta klasoru olusturulamadi.");
  TDriveFileInfo existing;
  std::string listError;
  if (!FGoogleDrive->TryFindFileInFolder(driveFolder, FileName, existing, &listError))
    throw EDriveError("Drive restoremeta klasoru listelenemedi: " + FileName + " (" + listError + ")");
  TDriveFileInfo result = existing.FileID.empty() ? FGoogleDrive->UploadFile(temp, driveFolder)
                                                  : FGoogleDrive->UpdateFileContent(existing.FileID, temp);
  if (!result.FileID.empty())
    LogInfoFmt("Restore bilgi dosyasi Drive'a yazildi: restoremeta/%s", FileName);
  else
    LogWarnFmt("Restore bilgi dosyasi Drive'a yazilamadi: restoremeta/%s", FileName);
}

bool TCloudBackupService::DownloadAccountRestoreData(std::string& ResultMessage) {
  ResultMessage.clear();
  try {
    EnsureGoogleToken();
    const std::string folder = FGoogleDrive->EnsureFolderPath(AccountRootFolderId(), kRestoreMetaFolderName);
    if (folder.empty()) throw EAppError("Drive restoremeta klasoru olusturulamadi.");
    std::vector<TDriveFileInfo> children;
    std::string listError;
    if (!FGoogleDrive->TryListFiles(folder, children, &listError))
      throw EDriveError("Drive restoremeta klasoru listelenemedi. " + listError);

    const std::string localFolder = JoinPath(FEnv.DataDir(), kRestoreMetaFolderName);
    bool plansCame = false;
    int count = 0;
    for (const TDriveFileInfo& child : children) {
      if (child.FileID.empty() || child.Name.empty() || child.MimeType == kDriveFolderMimeType) continue;
      if (!EndsText(child.Name, ".json")) continue;
      const std::string name = SafeLocalFileName(child.Name);
      const std::string temp = JoinPath(PrivateTempFolder(FEnv), name);
      TScopeExit dropTemp([&] { DeleteFileIfExists(temp); });
      std::string message;
      if (!DownloadDriveBackupFile(child, temp, message)) {
        LogWarnFmt("Restore bilgi dosyasi indirilemedi: %s | %s", child.Name, message);
        continue;
      }
      const std::string text = ReadTextFile(temp);
      if (SameText(name, kPlansExportFileName)) {
        if (!ForceDirectories(localFolder)) throw EFileError("Klasor olusturulamadi: " + localFolder);
        WriteTextFile(JoinPath(localFolder, kPlansExportFileName), text, true);
        plansCame = true;
      } else if (EndsText(name, kRestoreInfoSuffix)) {
        TRestoreMetadata metadata;
        if (!RestoreMetadataFromJson(text, metadata)) continue;
        SaveRestoreMetadataLocal(FEnv.DataDir(), name.substr(0, name.size() - 16), metadata);
        ++count;
      }
    }
    if (!plansCame && count == 0) {
      ResultMessage =
          "Bulutta restoremeta klasorunde bilgi dosyasi bulunamadi. Bilgiler ilk yedek alindiginda otomatik olusur.";
      return false;
    }
    ResultMessage = plansCame ? Fmt("Plan listesi ve %d yedek bilgi dosyasi buluttan alindi.", count)
                              : Fmt("%d yedek bilgi dosyasi buluttan alindi.", count);
    return true;
  } catch (const std::exception& e) {
    ResultMessage = e.what();
    LogException("Hesap restore bilgisi indirme hatasi", e);
    return false;
  }
}

}  // namespace calvora
