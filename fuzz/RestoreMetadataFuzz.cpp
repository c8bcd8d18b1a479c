// The restore information reader on any text a Drive folder may hold: it
// never fails, and what it accepts is written back and read again unchanged.
#include "FuzzSupport.h"

#include "engine/uRestoreMetadata.h"
#include "foundation/JsonText.h"

#include <cstdio>

namespace {

std::string Fields(const calvora::TRestoreMetadata& m) {
  char created[40];
  std::snprintf(created, sizeof created, "%.17g", m.CreatedAt);
  std::string out;
  for (const std::string& value : {m.PlanID, m.PlanName, m.BackupType, m.DatabaseName, m.SourceFolder,
                                   m.DriveSubFolder, m.Server, m.BackupFileName, std::to_string(m.RarEncrypted),
                                   std::to_string(m.UseCompression), std::string(created), m.ComputerName})
    out += value + '\x1f';
  for (const auto& f : m.DbFiles) out += f.LogicalName + '\x1d' + f.PhysicalName + '\x1d' + f.FileType + '\x1f';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  const std::string text = fuzz::Bytes(data, size);
  TRestoreMetadata metadata;
  if (RestoreMetadataFromJson(text, metadata)) {
    TRestoreMetadata again;
    fuzz::Check(RestoreMetadataFromJson(JsonToText(RestoreMetadataToJson(metadata)), again),
                "written restore information does not read back");
    fuzz::Check(Fields(again) == Fields(metadata), "restore information changed on its way back");
  }
  // The script's file list, as an array or a single object.
  TJson list;
  if (TryParseJson(text, list)) RestoreDbFilesFromJson(list);
  return 0;
}
