#include "account/Firebase.Config.h"

namespace calvora {

std::string FirebaseAuthEndpointUrl(const TFirebaseConfig& config, const std::string& endpoint) {
  std::string base = config.AuthBaseURL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/v1/accounts:" + endpoint + "?key=" + config.ApiKey;
}

}  // namespace calvora
