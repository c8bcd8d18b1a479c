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
  // Forgets the in-memory token and deletes "service_token.dat".
  static void ClearCache(TEnv& env);
  // "service_token.dat" in the data directory.
  static std::string TokenCachePath(TEnv& env);
};

}  // namespace calvora
