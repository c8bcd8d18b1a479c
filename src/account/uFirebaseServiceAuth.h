#pragma once
// The service connection: both programs reach the account directory with
// the deployment's built-in service login. The ID token is cached in memory
// (per environment) and on disk in "service_token.dat", shared by both
// programs, and renewed five minutes before it runs out.
#include "account/Firebase.Manager.h"
#include "foundation/Env.h"

#include <memory>
#include <string>

namespace calvora {

class TFirebaseServiceAuth {
 public:
  // True with a new manager whose client carries a valid ID token (the
  // caller owns it); false with Manager empty and the reason in
  // ErrorMessage ("Firebase baglantisi basarisiz: ...",
  // "Firebase baglantisi kurulurken hata: ..."). Never throws.
  static bool GetAuthenticatedManager(TEnv& env, std::unique_ptr<TFirebaseManager>& Manager,
                                      std::string& ErrorMessage);
  // One database request through the service connection. A 401 means the
  // cached token was refused (revoked, expired early): it is dropped, the
  // service signs in once more and the request is repeated once. False with
  // ErrorMessage when no connection could be had; otherwise true with the
  // answer, which may still be a refusal (IsDatabaseErrorAnswer). Transport
  // failures throw platform::HttpTransportError.
  static bool Request(TEnv& env, const std::string& Method, const std::string& Path, const TJson* Data,
                      TFirebaseResponse& Answer, std::string& ErrorMessage);
  // Forgets the in-memory token and deletes "service_token.dat".
  static void ClearCache(TEnv& env);
  // "service_token.dat" in the data directory.
  static std::string TokenCachePath(TEnv& env);
};

}  // namespace calvora
