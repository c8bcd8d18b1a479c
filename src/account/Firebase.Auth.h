#pragma once
// E-mail and password sign-in and sign-up against the authentication REST
// API of the account directory.
#include "account/Firebase.Config.h"
#include "platform/http_client.h"

#include <memory>
#include <string>

namespace calvora {

struct TAuthResponse {
  std::string IdToken;
  std::string Email;
  std::string RefreshToken;  // sign-in only; not used further
  std::string ExpiresIn;     // lifetime in seconds, as the decimal text returned
  std::string LocalId;
  bool Registered = false;   // never set
  bool Success = false;
  std::string ErrorMessage;  // the service's message when it failed
};

class TFirebaseAuth {
 public:
  explicit TFirebaseAuth(const TFirebaseConfig& AConfig);
  ~TFirebaseAuth();
  TFirebaseAuth(const TFirebaseAuth&) = delete;
  TFirebaseAuth& operator=(const TFirebaseAuth&) = delete;

  // A refused sign-in comes back with Success false and the service's
  // message; a transport failure throws (platform::HttpTransportError).
  TAuthResponse SignIn(const std::string& Email, const std::string& Password);
  TAuthResponse SignUp(const std::string& Email, const std::string& Password);

 private:
  TAuthResponse Send(const std::string& endpoint, const std::string& Email, const std::string& Password,
                     bool signIn);

  TFirebaseConfig FConfig;
  std::unique_ptr<platform::HttpClient> FHTTP;
};

}  // namespace calvora
