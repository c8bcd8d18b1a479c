#pragma once
// A database client and an authentication client on one configuration;
// Login authorises the client's requests with the signed-in ID token.
#include "account/Firebase.Auth.h"
#include "account/Firebase.Client.h"
#include "account/Firebase.Config.h"

#include <memory>
#include <string>

namespace calvora {

class TFirebaseManager {
 public:
  // AuthDomain stays empty; AAuthBaseURL empty keeps the public endpoint.
  TFirebaseManager(const std::string& AApiKey, const std::string& ABaseURL, const std::string& AProjectID,
                   const std::string& AAuthBaseURL = std::string());
  ~TFirebaseManager();
  TFirebaseManager(const TFirebaseManager&) = delete;
  TFirebaseManager& operator=(const TFirebaseManager&) = delete;

  const TFirebaseConfig& Config() const { return FConfig; }
  TFirebaseClient& Client() { return *FClient; }
  TFirebaseAuth& Auth() { return *FAuth; }

  // SignIn; on success the ID token becomes the client's AuthToken.
  TAuthResponse Login(const std::string& Email, const std::string& Password);

 private:
  TFirebaseConfig FConfig;
  std::unique_ptr<TFirebaseClient> FClient;
  std::unique_ptr<TFirebaseAuth> FAuth;
};

}  // namespace calvora
