#pragma once
// Restore information written after every successful upload: what a backup
// holds and how it was made ("<prefix>restoreinfo.json"), and the list of all
// plans ("plans.json"). Both live in the Drive folder "restoremeta" below the
// account's root folder; the restore information also in the local data
// folder's "restoremeta".
#include "foundation/DateTime.h"
#include "foundation/JsonText.h"
#include "plans/uBackupPlans.h"

#include <string>
#include <vector>

namespace calvora {

struct TRestoreDbFile {
  std::string LogicalName;
  std::string PhysicalName;
  std::string FileType;
};

struct TRestoreMetadata {
  std::string PlanID;
  std::string PlanName;
  std::string BackupType;  // "sql", "folder" or "firebird"
  std::string DatabaseName;
  std::string SourceFolder;
  std::string DriveSubFolder;
  std::string Server;
  std::string BackupFileName;  // without folder; empty for folder plans
  bool RarEncrypted = false;
  bool UseCompression = false;
  std::vector<TRestoreDbFile> DbFiles;
  TDateTime CreatedAt = 0;
  std::string ComputerName;
};

inline constexpr const char* kRestoreMetaFolderName = "restoremeta";
inline constexpr const char* kRestoreInfoSuffix = "restoreinfo.json";
inline constexpr const char* kPlansExportFileName = "plans.json";

TJson RestoreMetadataToJson(const TRestoreMetadata& Metadata);
// False unless the text is one JSON object.
bool RestoreMetadataFromJson(const std::string& Text, TRestoreMetadata& Metadata);
// The entries of a script's "bakFileList": an array (elements that are not
// objects give empty entries) or one object.
std::vector<TRestoreDbFile> RestoreDbFilesFromJson(const TJson& List);
// Writes <DataFolder>/restoremeta/<Prefix>restoreinfo.json (UTF-8 with BOM).
void SaveRestoreMetadataLocal(const std::string& DataFolder, const std::string& Prefix,
                              const TRestoreMetadata& Metadata);
// The plan list without passwords, schedules or run state.
std::string PlansExportJson(const std::vector<TBackupPlan>& Plans);

}  // namespace calvora
