#include "accountdrive/uGoogleTokenSync.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uFirebaseGoogleTokenStore.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"

namespace calvora {

bool SyncCentralGoogleToken(TEnv& env, std::string& Error) {
  Error.clear();
  TAccountCredentials credentials;
  try {
    if (!LoadSavedSignIn(env, credentials)) {
      Error = kNoSavedSignInMessage;
      return false;
    }
  } catch (const std::exception& e) {
    Error = e.what();
    return false;
  }

  std::string name = Trim(credentials.LoginName);
  TFirebaseManagedAccount account;
  // A directory that cannot be asked must not read as "no token": the local
  // cache stays as it is.
  const TAccountLookup lookup = LookupActiveAccount(env, account, Error);
  if (lookup == TAccountLookup::Failed) return false;
  Error.clear();
  if (lookup == TAccountLookup::Found) name = Trim(account.LoginName);

  TTokenData token;
  TGoogleDriveAccountLink link;
  if (!GetDefaultAccountLinkToken(env, name, token, link, Error)) return false;

  TAppConfig& config = env.Config();
  const std::string path = config.GetGoogleTokenCachePath();
  if (IsBlank(token.AccessToken) && IsBlank(token.RefreshToken)) {
    DeleteFileIfExists(path);
    LogWarnFmt("Aktif hesap icin varsayilan merkezi Google token bulunamadi: %s", name);
    return true;
  }
  const std::string clientID = IsBlank(account.OAuthClientID) ? config.GetClientID() : account.OAuthClientID;
  const std::string clientSecret =
      IsBlank(account.OAuthClientSecret) ? config.GetClientSecret() : account.OAuthClientSecret;
  TGoogleAuth auth(env, clientID, clientSecret, config.GetAuthPort(), false);
  auth.SetTokenData(token);
  auth.SaveTokens(path);
  LogInfoFmt("Merkezi Google token yerel onbellege yazildi: %s -> %s", name, path);
  return true;
}

}  // namespace calvora
