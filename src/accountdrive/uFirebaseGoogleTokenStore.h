#pragma once
// The central pool of Google Drive accounts ("GoogleDriveAccounts") and the
// links that assign customers to them ("GoogleDriveAccountLinks"), read with
// the service identity; the pool and the links are cached for 120 s.
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "foundation/JsonText.h"
#include "google/uGoogleAuth.h"

#include <string>
#include <vector>

namespace calvora {

struct TGoogleDriveAuthorizedAccount {
  std::string GoogleAccountID;  // the pool key
  std::string DisplayName;      // "DisplayName", else the Drive e-mail
  std::string GoogleDriveEmail;
  std::string ConnectedAtText;
  std::string UpdatedAtText;
  bool HasToken = false;  // an access or refresh token is stored
};

struct TGoogleDriveAccountLink {
  std::string LinkID;
  std::string AccountLoginName;  // login name, e-mail or database key of the customer
  std::string GoogleAccountID;
  std::string GoogleDisplayName;  // from the pool account when found
  std::string GoogleDriveEmail;   // likewise
  std::string LinkedAtText;
  std::string UpdatedAtText;  // the pool account's when found
  bool IsDefault = false;
};

// Every operation returns false with an error text instead of throwing.

// The pool, sorted by display name; an empty pool is read again each time.
bool ListAuthorizedAccounts(TEnv& env, std::vector<TGoogleDriveAuthorizedAccount>& Accounts, std::string& Error);
// One pool account with its tokens, read fresh.
bool LoadAuthorizedAccountToken(TEnv& env, const std::string& GoogleAccountID, TGoogleDriveAuthorizedAccount& Account,
                                TTokenData& Token, std::string& Error);
// The customer's links, defaults first, then by the pool account's name.
bool ListAccountLinks(TEnv& env, const std::string& AccountLoginName, std::vector<TGoogleDriveAccountLink>& Links,
                      std::string& Error);
// The token set of the customer's default link (else its first link); true
// with both empty when the customer has no link.
bool GetDefaultAccountLinkToken(TEnv& env, const std::string& AccountLoginName, TTokenData& Token,
                                TGoogleDriveAccountLink& Link, std::string& Error);

// Database key of a pool account identifier: the account-key rule, with
// "kayit" when nothing is left.
std::string SanitizeDatabaseKey(const std::string& Text);
// A member holding a day count (number or text) or a regional date-time
// text; 0 when absent or unreadable.
TDateTime ReadJsonDateTime(const TJson& Object, const std::string& Name);

}  // namespace calvora
