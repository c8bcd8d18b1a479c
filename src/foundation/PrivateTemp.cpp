#include "foundation/PrivateTemp.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "platform/private_folder.h"

#include <system_error>

namespace calvora {
namespace {

void EnsureLevel(const std::string& folder) {
  std::string reason;
  if (!platform::EnsurePrivateFolder(folder, reason))
    throw EFileError("Gecici klasor guvenli degil: " + folder + " (" + reason + ")");
}

}  // namespace

std::string PrivateTempFolder(const TEnv& env, std::initializer_list<std::string_view> names) {
  std::string folder = env.TempDir();
  if (folder.empty()) throw EFileError("Gecici klasor guvenli degil: ozel gecici klasor olusturulamadi");
  EnsureLevel(folder);
  for (std::string_view name : names) {
    folder = JoinPath(folder, name);
    EnsureLevel(folder);
  }
  return folder;
}

void CreatePrivateTextFile(const std::string& path, std::string_view text) {
  try {
    platform::CreatePrivateFile(path, text);
  } catch (const std::system_error& e) {
    throw EFileError(e.what());
  }
}

void CheckPrivateFile(const std::string& path) {
  const std::string fault = platform::PrivateFileFault(path);
  if (!fault.empty()) throw EFileError("Gecici dosya guvenli degil: " + path + " (" + fault + ")");
}

}  // namespace calvora
