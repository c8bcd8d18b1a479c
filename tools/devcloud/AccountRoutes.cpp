#include "AccountDirectoryState.h"
#include "DevCloud.h"

#include <httplib.h>

namespace calvora::devcloud {

std::unique_ptr<AccountDirectoryState> MakeAccountDirectoryState(const std::string& dataDir) {
  return std::make_unique<AccountDirectoryState>(dataDir);
}

void RegisterAccountRoutes(httplib::Server&, DevCloud&) {}

}  // namespace calvora::devcloud
