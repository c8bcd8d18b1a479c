#include "DevCloud.h"
#include "GoogleState.h"

#include <httplib.h>

namespace calvora::devcloud {

std::unique_ptr<GoogleState> MakeGoogleState(const std::string& dataDir) {
  return std::make_unique<GoogleState>(dataDir);
}

void RegisterGoogleRoutes(httplib::Server&, DevCloud&) {}

}  // namespace calvora::devcloud
