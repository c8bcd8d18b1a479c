#pragma once
// The saved sign-in (login name and password of the customer who signed in,
// kept protected on the machine so the service acts for that account) and
// the account record it designates. The file is shared by both programs and
// guarded between them by a cross-process lock.
#include "account/uFirebaseAccountStore.h"
#include "foundation/Env.h"

#include <string>

namespace calvora {

struct TAccountCredentials {
  std::string LoginName;    // login name or e-mail as typed, trimmed
  std::string Password;
  std::string DisplayName;  // the account's DisplayName at sign-in
};

// Message of every operation that needs a saved sign-in and finds none.
inline constexpr const char kNoSavedSignInMessage[] =
    "Kayitli oturum bulunamadi. Lutfen hesabinizla giris yapin.";

// True when a saved sign-in with non-empty LoginName and Password exists.
// Served from a 60 s memory copy. Throws EAppError when the file cannot be
// read (after 10 tries) or opened ("Kayitli oturum bilgisi okunamadi: ...").
bool LoadSavedSignIn(TEnv& env, TAccountCredentials& credentials);
// Writes the file and refreshes the memory copy. Throws EAppError when the
// credentials cannot be protected or written.
void SaveSignIn(TEnv& env, const TAccountCredentials& credentials);
// Drops the memory copy and deletes the file. Throws EAppError when the file
// stays.
void ClearSavedSignIn(TEnv& env);
bool HasSavedSignIn(TEnv& env);
std::string SavedSignInPath(TEnv& env);

// The directory record of the saved sign-in's login name. Never throws: an
// unreadable saved sign-in comes back as false with its message.
bool GetActiveAccount(TEnv& env, TFirebaseManagedAccount& account, std::string& error);
// The same, telling an account the directory does not have (NotFound) from
// one it could not be asked about (Failed; no saved sign-in is Failed too).
TAccountLookup LookupActiveAccount(TEnv& env, TFirebaseManagedAccount& account, std::string& error);

}  // namespace calvora
