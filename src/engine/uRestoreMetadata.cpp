#include "engine/uRestoreMetadata.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"

namespace calvora {

TJson RestoreMetadataToJson(const TRestoreMetadata& Metadata) {
  TJson object = TJson::object();
  object["PlanID"] = Metadata.PlanID;
  object["PlanName"] = Metadata.PlanName;
  object["BackupType"] = Metadata.BackupType;
  object["DatabaseName"] = Metadata.DatabaseName;
  object["SourceFolder"] = Metadata.SourceFolder;
  object["DriveSubFolder"] = Metadata.DriveSubFolder;
  object["Server"] = Metadata.Server;
  object["BackupFileName"] = Metadata.BackupFileName;
  object["RarEncrypted"] = Metadata.RarEncrypted;
  object["UseCompression"] = Metadata.UseCompression;
  object["CreatedAt"] = Metadata.CreatedAt > 0 ? FormatDateTime(Metadata.CreatedAt) : std::string();
  object["ComputerName"] = Metadata.ComputerName;
  TJson files = TJson::array();
  for (const TRestoreDbFile& file : Metadata.DbFiles) {
    TJson entry = TJson::object();
    entry["LogicalName"] = file.LogicalName;
    entry["PhysicalName"] = file.PhysicalName;
    entry["FileType"] = file.FileType;
    files.push_back(std::move(entry));
  }
  object["DbFiles"] = std::move(files);
  return object;
}

bool RestoreMetadataFromJson(const std::string& Text, TRestoreMetadata& Metadata) {
  Metadata = TRestoreMetadata();
  TJson object;
  if (!TryParseJson(Text, object) || !object.is_object()) return false;
  Metadata.PlanID = JsonMemberText(object, "PlanID");
  Metadata.PlanName = JsonMemberText(object, "PlanName");
  Metadata.BackupType = JsonMemberText(object, "BackupType");
  Metadata.DatabaseName = JsonMemberText(object, "DatabaseName");
  Metadata.SourceFolder = JsonMemberText(object, "SourceFolder");
  Metadata.DriveSubFolder = JsonMemberText(object, "DriveSubFolder");
  Metadata.Server = JsonMemberText(object, "Server");
  Metadata.BackupFileName = JsonMemberText(object, "BackupFileName");
  Metadata.RarEncrypted = JsonMemberBool(object, "RarEncrypted");
  Metadata.UseCompression = JsonMemberBool(object, "UseCompression");
  TDateTime created = 0;
  // Moments at or before the day count's zero cannot be written back.
  if (TryParseDateTime(JsonMemberText(object, "CreatedAt"), created) && created > 0) Metadata.CreatedAt = created;
  Metadata.ComputerName = JsonMemberText(object, "ComputerName");
  auto files = object.find("DbFiles");
  if (files != object.end() && files->is_array()) {
    for (const TJson& item : *files) {
      TRestoreDbFile file;
      if (item.is_object()) {
        file.LogicalName = JsonMemberText(item, "LogicalName");
        file.PhysicalName = JsonMemberText(item, "PhysicalName");
        file.FileType = JsonMemberText(item, "FileType");
      }
      Metadata.DbFiles.push_back(std::move(file));
    }
  }
  return true;
}

std::vector<TRestoreDbFile> RestoreDbFilesFromJson(const TJson& List) {
  std::vector<TRestoreDbFile> files;
  auto add = [&files](const TJson& item) {
    TRestoreDbFile file;
    if (item.is_object()) {
      file.LogicalName = JsonMemberText(item, "logicalName");
      file.PhysicalName = JsonMemberText(item, "physicalName");
      file.FileType = JsonMemberText(item, "type");
    }
    files.push_back(std::move(file));
  };
  if (List.is_array()) {
    for (const TJson& item : List) add(item);
  } else if (List.is_object()) {
    add(List);
  }
  return files;
}

void SaveRestoreMetadataLocal(const std::string& DataFolder, const std::string& Prefix,
                              const TRestoreMetadata& Metadata) {
  const std::string folder = JoinPath(DataFolder, kRestoreMetaFolderName);
  if (!ForceDirectories(folder)) throw EFileError("Klasor olusturulamadi: " + folder);
  WriteTextFile(JoinPath(folder, Prefix + kRestoreInfoSuffix), JsonToText(RestoreMetadataToJson(Metadata)), true);
}

std::string PlansExportJson(const std::vector<TBackupPlan>& Plans) {
  TJson list = TJson::array();
  for (const TBackupPlan& plan : Plans) {
    TJson object = TJson::object();
    object["ID"] = plan.ID;
    object["Name"] = plan.Name;
    object["Description"] = plan.Description;
    object["BackupType"] = NormalizeBackupType(plan.BackupType);
    object["DatabaseName"] = plan.DatabaseName;
    object["SourceFolder"] = plan.SourceFolder;
    object["TempDirectory"] = plan.TempDirectory;
    object["DriveSubFolder"] = plan.DriveSubFolder;
    object["UseCompression"] = plan.UseCompression;
    object["UseRarEncryption"] = plan.UseRarEncryption;
    list.push_back(std::move(object));
  }
  return JsonToText(list);
}

}  // namespace calvora
