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
  // On failure: the directory answered and refused (no such account, the
  // password differs, nothing to check). False when it could not be asked.
  bool Rejected = false;
};

// What a re-check of the saved sign-in found. Only Rejected means the
// customer is no longer signed in; Unreachable keeps the sign-in.
enum class TSavedSignInCheck { Valid, Rejected, Unreachable };

// Checks only; Account is filled when found. Returns Result.Success.
bool CheckAccountSignIn(TEnv& env, const std::string& LoginText, const std::string& Password,
                        TFirebaseManagedAccount& Account, TAccountAuthResult& Result);
// Checks and, on success, saves the sign-in and refreshes the Google token
// cache (a failed refresh is only logged). Errors of the saved sign-in store
// are raised (EAppError). Returns Result.Success.
bool SignInAccount(TEnv& env, const std::string& LoginText, const std::string& Password,
                   TAccountAuthResult& Result);
// Re-checks the saved sign-in. Message is the check's message; LoginName
// the saved login name. A failure to reach or read the directory (or the
// saved sign-in file) is Unreachable, never Rejected.
TSavedSignInCheck RefreshSavedSignIn(TEnv& env, std::string& Message, std::string& LoginName);

}  // namespace calvora
