// The configuration start-up pass on any config.ini: it never fails on the
// file's content, and every later start reads each value as the first did.
#include "FuzzSupport.h"

#include "foundation/TextFile.h"
#include "foundation/uAppConfig.h"

#include <exception>

namespace {

std::string Snapshot(const calvora::TAppConfig& config) {
  const auto sql = config.GetMSSQLBackupConfig();
  const auto fb = config.GetFirebirdBackupConfig();
  std::string out;
  for (const std::string& value :
       {config.GetClientID(), config.GetClientSecret(), config.GetRootFolderID(), std::to_string(config.GetAuthPort()),
        std::to_string(sql.Enabled), sql.Server, sql.UserName, sql.Password, sql.BackupOutputDir,
        std::to_string(fb.Enabled), fb.Server, std::to_string(fb.Port), fb.UserName, fb.Password, fb.GBackPath,
        fb.BackupOutputDir})
    out += value + '\x1f';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  TConfigLocations locations;
  locations.ExecutableDir = fuzz::ScratchDir() + "/config-start";
  locations.ProgramData = fuzz::ScratchDir() + "/programdata";
  locations.AppData = fuzz::ScratchDir() + "/appdata";
  ForceDirectories(locations.ExecutableDir + "/config");
  WriteTextFile(locations.ExecutableDir + "/config/config.ini", fuzz::Bytes(data, size), false);
  try {
    TAppConfig first(locations);
    const std::string seen = Snapshot(first);
    TAppConfig second(locations);
    fuzz::Check(Snapshot(second) == seen, "a second start reads other values");
  } catch (const std::exception& e) {
    fuzz::Fail(std::string("start-up failed on the file's content: ") + e.what());
  }
  return 0;
}
