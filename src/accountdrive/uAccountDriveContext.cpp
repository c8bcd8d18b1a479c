#include "accountdrive/uAccountDriveContext.h"

#include "account/uFirebaseActiveAccount.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"

namespace calvora {

std::unique_ptr<TGoogleAuth> CreateAccountGoogleAuth(TEnv& env) {
  TAppConfig& config = env.Config();
  std::string clientId = config.GetClientID();
  std::string clientSecret = config.GetClientSecret();
  // Without a readable sign-in the configured client serves.
  try {
    TFirebaseManagedAccount account;
    std::string error;
    if (GetActiveAccount(env, account, error)) {
      if (!IsBlank(account.OAuthClientID)) clientId = Trim(account.OAuthClientID);
      if (!IsBlank(account.OAuthClientSecret)) clientSecret = Trim(account.OAuthClientSecret);
    }
  } catch (const std::exception& e) {
    LogException("Aktif hesap OAuth bilgisi okunamadi", e);
  }
  auto auth = std::make_unique<TGoogleAuth>(env, clientId, clientSecret, config.GetAuthPort(), false);
  auth->LoadTokens(config.GetGoogleTokenCachePath());
  return auth;
}

std::string SanitizeAccountFolderName(const std::string& Text) {
  std::string name = Trim(Text);
  for (char& c : name)
    if (c == '/' || c == ':' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' || c == '\\' || c == '"')
      c = '-';
  return name.empty() ? "Hesap" : name;
}

bool GetAccountRootFolderName(TEnv& env, std::string& Name, std::string& Error) {
  Name.clear();
  Error.clear();
  TFirebaseManagedAccount account;
  if (!GetActiveAccount(env, account, Error)) return false;
  if (!IsBlank(account.DisplayName))
    Name = SanitizeAccountFolderName(account.DisplayName);
  else if (!IsBlank(account.LoginName))
    Name = SanitizeAccountFolderName(account.LoginName);
  else
    Name = "Hesap";
  return true;
}

bool EnsureAccountRootFolder(TEnv& env, TGoogleDrive& Drive, const std::string& RootFolderID,
                             std::string& FolderID, std::string& Error, bool* DriveFailed) {
  FolderID.clear();
  Error.clear();
  if (DriveFailed) *DriveFailed = false;
  std::string name;
  if (!GetAccountRootFolderName(env, name, Error)) return false;
  const std::string parent = IsBlank(RootFolderID) ? std::string("root") : Trim(RootFolderID);
  try {
    FolderID = Drive.EnsureFolderPath(parent, name);
  } catch (const std::exception& e) {
    LogException("Hesap ana klasoru hazirlanamadi", e);
    FolderID.clear();
    Error = std::string("Hesap ana klasoru hazirlanamadi: ") + e.what();
    if (DriveFailed) *DriveFailed = true;
    return false;
  }
  if (FolderID.empty()) {
    Error = "Hesap ana klasoru olusturulamadi: " + name;
    if (DriveFailed) *DriveFailed = true;
    return false;
  }
  return true;
}

}  // namespace calvora
