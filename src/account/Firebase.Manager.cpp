#include "account/Firebase.Manager.h"

namespace calvora {

TFirebaseManager::TFirebaseManager(const std::string& AApiKey, const std::string& ABaseURL,
                                   const std::string& AProjectID, const std::string& AAuthBaseURL) {
  FConfig.ApiKey = AApiKey;
  FConfig.BaseURL = ABaseURL;
  FConfig.ProjectID = AProjectID;
  if (!AAuthBaseURL.empty()) FConfig.AuthBaseURL = AAuthBaseURL;
  FClient = std::make_unique<TFirebaseClient>(FConfig);
  FAuth = std::make_unique<TFirebaseAuth>(FConfig);
}

TFirebaseManager::~TFirebaseManager() {
  FAuth.reset();
  FClient.reset();
}

TAuthResponse TFirebaseManager::Login(const std::string& Email, const std::string& Password) {
  TAuthResponse response = FAuth->SignIn(Email, Password);
  if (response.Success) FClient->SetAuthToken(response.IdToken);
  return response;
}

}  // namespace calvora
