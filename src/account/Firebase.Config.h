#pragma once
// Connection settings of the account directory: the project's Web API key,
// the database root and the root of the authentication REST API.
#include <string>

namespace calvora {

struct TFirebaseConfig {
  std::string ApiKey;      // "key" query parameter of the authentication endpoints
  std::string ProjectID;   // carried only
  std::string BaseURL;     // database root, ending in "/"
  std::string AuthDomain;  // carried only
  // Root of the authentication REST API; deployments and tests point it
  // elsewhere (the local cloud emulator).
  std::string AuthBaseURL = "https://identitytoolkit.googleapis.com";
};

// URL of one authentication endpoint: AuthBaseURL + "/v1/accounts:" +
// endpoint + "?key=" + ApiKey ("signInWithPassword", "signUp").
std::string FirebaseAuthEndpointUrl(const TFirebaseConfig& config, const std::string& endpoint);

}  // namespace calvora
