#pragma once
// Customer sign-in against the account directory: the check, the sign-in
// that saves the credentials for the service and pulls the central Google
// token, and the re-check of the saved sign-in.
#include "account/uFirebaseAccountStore.h"
#include "foundation/Env.h"

#include <string>

namespace calvora {

struct TAccountAuthResult {
  bool Success = false;
  std::string LoginName;    // the login text as checked, trimmed
  std::string DisplayName;  // on success
  std::string MessageText;  // for the user, on success and on failure
};

// Checks only; Account is filled when found. Returns Result.Success.
bool CheckAccountSignIn(TEnv& env, const std::string& LoginText, const std::string& Password,
                        TFirebaseManagedAccount& Account, TAccountAuthResult& Result);
// Checks and, on success, saves the sign-in and refreshes the Google token
// cache (a failed refresh is only logged). Errors of the saved sign-in store
// are raised (EAppError). Returns Result.Success.
bool SignInAccount(TEnv& env, const std::string& LoginText, const std::string& Password,
                   TAccountAuthResult& Result);
// Re-checks the saved sign-in; true when it is still valid. Message is the
// check's message; LoginName the saved login name.
bool RefreshSavedSignIn(TEnv& env, std::string& Message, std::string& LoginName);

}  // namespace calvora
