#pragma once
// OAuth 2.0 client of one installed-application Google client: holds one
// token set, hands out a valid access token (renewing it with the refresh
// grant shortly before it runs out), keeps the token set in the protected
// token cache file, and carries the interactive authorization-code flow
// with PKCE (S256).
#include "foundation/DateTime.h"
#include "foundation/Env.h"

#include <mutex>
#include <string>

namespace calvora {

class TUserPrompts;

struct TTokenData {
  std::string AccessToken;
  std::string RefreshToken;
  // Local time at which the access token expires; 0 when not set.
  TDateTime ExpiresAt = 0;

  // True when ExpiresAt minus 5 minutes lies before `Now` (so a zero
  // ExpiresAt is always expired).
  bool IsExpired(TDateTime Now) const;
};

// The token operations may be called from several threads at once (the
// Drive clients of parallel uploads share one token set): one renewal
// serves them all.
class TGoogleAuth {
 public:
  // Endpoints and the clock come from `env`; `Prompts` (browser, clipboard,
  // message boxes) defaults to NoUserPrompts() and must outlive the object.
  TGoogleAuth(TEnv& env, const std::string& ClientID, const std::string& ClientSecret, int Port,
              bool InteractiveMessages, TUserPrompts* Prompts = nullptr);
  ~TGoogleAuth();
  TGoogleAuth(const TGoogleAuth&) = delete;
  TGoogleAuth& operator=(const TGoogleAuth&) = delete;

  // The access token, renewed first when it (nearly) ran out or when only a
  // refresh token is held; empty when there is no usable token.
  std::string GetValidToken();
  // Google refused `RejectedToken` although its expiry lies ahead (clock
  // skew, a wrong expiry from the pool, a revoked grant): renews it at once
  // (saving the cache when a path is known) and returns the new access
  // token; empty when it cannot be renewed. A token that was already
  // replaced is not renewed again.
  std::string RenewRejectedToken(const std::string& RejectedToken);
  // Replaces the token set; nothing is saved.
  void SetTokenData(const TTokenData& Value);
  // Copy of the token set; true when the access or refresh token is not blank.
  bool TryGetTokenData(TTokenData& Value) const;
  // Writes the protected token cache file and remembers the path. Write
  // errors are raised (EAppError).
  void SaveTokens(const std::string& Path);
  // Reads the token cache file (a missing or unreadable one gives an empty
  // token set) and remembers the path. A plain legacy file is rewritten
  // protected at once.
  void LoadTokens(const std::string& Path);
  // Interactive authorization; true when an access token was obtained. The
  // tokens are not saved.
  bool Authenticate();

  const TTokenData& TokenData() const { return FTokenData; }
  bool InteractiveMessages() const { return FInteractiveMessages; }
  void SetInteractiveMessages(bool Value) { FInteractiveMessages = Value; }
  void SetUserPrompts(TUserPrompts* Prompts);

  // Shows Text in a modal message box when InteractiveMessages is true.
  void ShowInfo(const std::string& Text);

  TEnv& Env() const { return FEnv; }
  const std::string& ClientID() const { return FClientID; }
  const std::string& TokenPath() const { return FTokenPath; }
  // "http://localhost:<Port>/callback"
  std::string RedirectUri() const;

 private:
  bool RefreshAccessToken();
  bool GeneratePKCE(std::string& Challenge);
  std::string BuildAuthURL(const std::string& Challenge) const;

  TEnv& FEnv;
  std::string FClientID;
  std::string FClientSecret;
  int FPort;
  TTokenData FTokenData;
  std::string FCodeVerifier;
  std::string FAuthCode;
  std::string FTokenPath;
  bool FInteractiveMessages;
  TUserPrompts* FPrompts;
  mutable std::recursive_mutex FTokenLock;  // renewal saves through SaveTokens
};

// The authorization code in pasted text: a whole redirect address (the value
// of "code=" up to the next "&") or a bare code; trimmed and percent-decoded.
std::string ExtractAuthCode(const std::string& Text);

}  // namespace calvora
