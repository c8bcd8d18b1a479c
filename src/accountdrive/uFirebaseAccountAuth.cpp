#include "accountdrive/uFirebaseAccountAuth.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uGoogleTokenSync.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {
namespace {

// A sign-in stays successful when the Google token cannot be pulled.
void PullCentralGoogleToken(TEnv& env) {
  std::string error;
  try {
    if (SyncCentralGoogleToken(env, error)) return;
  } catch (const std::exception& e) {
    error = e.what();
  }
  LogWarnFmt("Google token yerel onbellege cekilemedi: %s", error);
}

}  // namespace

bool CheckAccountSignIn(TEnv& env, const std::string& LoginText, const std::string& Password,
                        TFirebaseManagedAccount& Account, TAccountAuthResult& Result) {
  Result = TAccountAuthResult();
  Account = TFirebaseManagedAccount();
  Result.LoginName = Trim(LoginText);
  Result.Rejected = true;
  if (Result.LoginName.empty()) {
    Result.MessageText = "Kullanici adi/e-posta zorunlu.";
    return false;
  }
  if (Password.empty()) {
    Result.MessageText = "Sifre zorunlu.";
    return false;
  }
  std::string error;
  const TAccountLookup lookup = LookupManagedAccount(env, Result.LoginName, Account, error);
  if (lookup != TAccountLookup::Found) {
    Account = TFirebaseManagedAccount();
    Result.Rejected = lookup == TAccountLookup::NotFound;
    Result.MessageText = error.empty() ? "Hesap bulunamadi." : error;
    return false;
  }
  if (Account.Password != Password) {
    Result.MessageText = "Hatali sifre.";
    return false;
  }
  Result.Rejected = false;
  Result.Success = true;
  Result.DisplayName = Account.DisplayName;
  Result.MessageText = "Giris basarili.";
  return true;
}

bool SignInAccount(TEnv& env, const std::string& LoginText, const std::string& Password,
                   TAccountAuthResult& Result) {
  TFirebaseManagedAccount account;
  if (!CheckAccountSignIn(env, LoginText, Password, account, Result)) return false;
  SaveSignIn(env, TAccountCredentials{Result.LoginName, Password, Result.DisplayName});
  PullCentralGoogleToken(env);
  return true;
}

TSavedSignInCheck RefreshSavedSignIn(TEnv& env, std::string& Message, std::string& LoginName) {
  Message.clear();
  LoginName.clear();
  TAccountCredentials credentials;
  try {
    if (!LoadSavedSignIn(env, credentials)) {
      Message = kNoSavedSignInMessage;
      return TSavedSignInCheck::Rejected;
    }
  } catch (const std::exception& e) {
    // A file that cannot be read now (a key briefly out of reach) is kept.
    Message = e.what();
    return TSavedSignInCheck::Unreachable;
  }
  LoginName = credentials.LoginName;
  TFirebaseManagedAccount account;
  TAccountAuthResult result;
  const bool valid = CheckAccountSignIn(env, credentials.LoginName, credentials.Password, account, result);
  Message = result.MessageText;
  if (!valid) return result.Rejected ? TSavedSignInCheck::Rejected : TSavedSignInCheck::Unreachable;
  credentials.DisplayName = result.DisplayName;
  try {
    SaveSignIn(env, credentials);
  } catch (const std::exception& e) {
    // Still signed in; the display name is refreshed next time.
    LogException("Kayitli oturum guncellenemedi", e);
  }
  PullCentralGoogleToken(env);
  return TSavedSignInCheck::Valid;
}

}  // namespace calvora
