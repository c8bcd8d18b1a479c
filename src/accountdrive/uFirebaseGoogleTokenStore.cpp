#include "accountdrive/uFirebaseGoogleTokenStore.h"

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseServiceAuth.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <algorithm>
#include <charconv>
#include <mutex>

namespace calvora {
namespace {

constexpr std::int64_t kCacheMs = 120000;

// The pool and the links of every customer, each with the time it was read;
// one pair per environment.
struct TGoogleTokenStoreCache {
  std::mutex lock;
  bool poolFilled = false;
  TDateTime poolReadAt = 0;
  std::vector<TGoogleDriveAuthorizedAccount> pool;
  bool linksFilled = false;
  TDateTime linksReadAt = 0;
  std::vector<TGoogleDriveAccountLink> links;
};

bool Fresh(TEnv& env, bool filled, TDateTime readAt) {
  const TDateTime now = env.Now();
  return filled && now >= readAt && MillisecondsBetween(now, readAt) < kCacheMs;
}

bool IsNullText(const std::string& trimmed) { return trimmed.empty() || SameText(trimmed, "null"); }

// The trimmed body of a node; a refusal of the database is an error with the
// server's message after `context`, never an empty node.
bool ReadNode(TEnv& env, const std::string& path, const std::string& context, std::string& body, std::string& error) {
  TFirebaseResponse answer;
  if (!TFirebaseServiceAuth::Request(env, "GET", path, nullptr, answer, error)) return false;
  std::string refusal;
  if (IsDatabaseErrorAnswer(answer, refusal)) {
    error = context + refusal;
    return false;
  }
  body = Trim(answer.Body);
  return true;
}

bool TryParseDayCount(const std::string& text, double& value) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  const char* begin = t.data();
  if (*begin == '+') ++begin;
  auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size();
}

TGoogleDriveAuthorizedAccount ParseAuthorizedAccount(const std::string& name, const TJson& value) {
  TGoogleDriveAuthorizedAccount account;
  account.GoogleAccountID = name;
  account.GoogleDriveEmail = JsonMemberText(value, "GoogleDriveEmail");
  account.DisplayName = JsonMemberText(value, "DisplayName");
  if (account.DisplayName.empty()) account.DisplayName = account.GoogleDriveEmail;
  account.ConnectedAtText = JsonMemberText(value, "ConnectedAt");
  account.UpdatedAtText = JsonMemberText(value, "UpdatedAt");
  account.HasToken = !IsBlank(JsonMemberText(value, "AccessToken")) || !IsBlank(JsonMemberText(value, "RefreshToken"));
  return account;
}

TGoogleDriveAccountLink ParseAccountLink(const std::string& name, const TJson& value) {
  TGoogleDriveAccountLink link;
  link.LinkID = name;
  link.AccountLoginName = JsonMemberText(value, "AccountLoginName");
  link.GoogleAccountID = JsonMemberText(value, "GoogleAccountID");
  link.LinkedAtText = JsonMemberText(value, "LinkedAt");
  link.UpdatedAtText = JsonMemberText(value, "UpdatedAt");
  const std::string isDefault = LowerAscii(Trim(JsonMemberText(value, "IsDefault")));
  link.IsDefault = isDefault == "true" || isDefault == "1" || isDefault == "evet";
  return link;
}

// Who a link's "AccountLoginName" may name: the customer text as given, the
// login name it resolves to, and the found account's e-mail, key and login
// name. The account is looked up once for all links.
struct TCustomerNames {
  std::string name;
  std::string resolved;
  bool found = false;
  TFirebaseManagedAccount account;

  bool Matches(const std::string& linkName) const {
    const std::string l = Trim(linkName);
    if (SameText(l, name) || SameText(l, resolved)) return true;
    return found && (SameText(l, Trim(account.Email)) || SameText(l, Trim(account.NodeName)) ||
                     SameText(l, Trim(account.LoginName)));
  }
};

// A directory that cannot be asked leaves `failed` set with the reason, so
// no link is chosen by a name the account may not have.
TCustomerNames ResolveCustomer(TEnv& env, const std::string& text, bool& failed, std::string& error) {
  TCustomerNames names;
  names.name = Trim(text);
  names.resolved = names.name;
  if (names.name.empty()) return names;
  const TAccountLookup lookup = LookupManagedAccount(env, names.name, names.account, error);
  failed = lookup == TAccountLookup::Failed;
  names.found = lookup == TAccountLookup::Found;
  if (names.found) {
    error.clear();
    if (!IsBlank(names.account.LoginName))
      names.resolved = Trim(names.account.LoginName);
    else if (!IsBlank(names.account.Email))
      names.resolved = Trim(names.account.Email);
  }
  return names;
}

// All links of the database, from the cache when fresh.
bool ReadAllLinks(TEnv& env, std::vector<TGoogleDriveAccountLink>& links, std::string& Error) {
  auto& cache = env.Shared<TGoogleTokenStoreCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (Fresh(env, cache.linksFilled, cache.linksReadAt)) {
    links = cache.links;
    return true;
  }
  try {
    std::string body;
    if (!ReadNode(env, "GoogleDriveAccountLinks", "Musteri Google baglanti listesi okunurken hata: ", body, Error))
      return false;
    std::vector<TGoogleDriveAccountLink> read;
    if (!IsNullText(body)) {
      TJson root;
      if (!TryParseJson(body, root) || !root.is_object()) {
        Error = "Musteri Google baglanti listesi okunamadi.";
        return false;
      }
      for (auto it = root.begin(); it != root.end(); ++it)
        if (it->is_object()) read.push_back(ParseAccountLink(it.key(), it.value()));
    }
    cache.links = read;
    cache.linksReadAt = env.Now();
    cache.linksFilled = true;
    links = std::move(read);
    return true;
  } catch (const std::exception& e) {
    LogException("Musteri Google baglanti listesi okunurken hata: ", e);
    Error = std::string("Musteri Google baglanti listesi okunurken hata: ") + e.what();
    return false;
  }
}

}  // namespace

std::string SanitizeDatabaseKey(const std::string& Text) {
  std::string key = Trim(ReplaceDatabaseKeyCharacters(Trim(Text)));
  return key.empty() ? "kayit" : key;
}

TDateTime ReadJsonDateTime(const TJson& Object, const std::string& Name) {
  if (!Object.is_object()) return 0;
  auto it = Object.find(Name);
  if (it == Object.end()) return 0;
  double value = 0;
  if (it->is_number()) return TryParseDayCount(it->dump(), value) ? value : 0;
  const std::string text = Trim(JsonValueText(*it));
  TDateTime moment = 0;
  if (TryParseRegionalDateTime(text, moment)) return moment;
  return TryParseDayCount(text, value) ? value : 0;
}

bool ListAuthorizedAccounts(TEnv& env, std::vector<TGoogleDriveAuthorizedAccount>& Accounts, std::string& Error) {
  Accounts.clear();
  Error.clear();
  auto& cache = env.Shared<TGoogleTokenStoreCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (Fresh(env, cache.poolFilled, cache.poolReadAt) && !cache.pool.empty()) {
    Accounts = cache.pool;
    return true;
  }
  try {
    std::string body;
    if (!ReadNode(env, "GoogleDriveAccounts", "Google Drive hesap havuzu okunurken hata: ", body, Error)) return false;
    if (IsNullText(body)) return true;
    TJson root;
    if (!TryParseJson(body, root) || !root.is_object()) {
      Error = "Google Drive hesap havuzu okunamadi.";
      return false;
    }
    std::vector<TGoogleDriveAuthorizedAccount> read;
    for (auto it = root.begin(); it != root.end(); ++it)
      if (it->is_object()) read.push_back(ParseAuthorizedAccount(it.key(), it.value()));
    std::stable_sort(read.begin(), read.end(), [](const auto& a, const auto& b) {
      return FoldCase(a.DisplayName) < FoldCase(b.DisplayName);
    });
    cache.pool = read;
    cache.poolReadAt = env.Now();
    cache.poolFilled = true;
    Accounts = std::move(read);
    return true;
  } catch (const std::exception& e) {
    LogException("Google Drive hesap havuzu okunurken hata: ", e);
    Error = std::string("Google Drive hesap havuzu okunurken hata: ") + e.what();
    return false;
  }
}

bool LoadAuthorizedAccountToken(TEnv& env, const std::string& GoogleAccountID, TGoogleDriveAuthorizedAccount& Account,
                                TTokenData& Token, std::string& Error) {
  Account = TGoogleDriveAuthorizedAccount();
  Token = TTokenData();
  Error.clear();
  if (IsBlank(GoogleAccountID)) {
    Error = "Google Drive hesap kimligi bos.";
    return false;
  }
  try {
    std::string body;
    if (!ReadNode(env, DatabaseChildPath("GoogleDriveAccounts", SanitizeDatabaseKey(GoogleAccountID)),
                  "Google Drive hesabi okunurken hata: ", body, Error))
      return false;
    if (IsNullText(body)) {
      Error = "Google Drive hesabi bulunamadi.";
      return false;
    }
    TJson value;
    if (!TryParseJson(body, value) || !value.is_object()) {
      Error = "Google Drive hesabi okunamadi.";
      return false;
    }
    Account = ParseAuthorizedAccount(GoogleAccountID, value);
    Token.AccessToken = JsonMemberText(value, "AccessToken");
    Token.RefreshToken = JsonMemberText(value, "RefreshToken");
    Token.ExpiresAt = ReadJsonDateTime(value, "ExpiresAt");
    return true;
  } catch (const std::exception& e) {
    LogException("Google Drive hesabi okunurken hata: ", e);
    Account = TGoogleDriveAuthorizedAccount();
    Token = TTokenData();
    Error = std::string("Google Drive hesabi okunurken hata: ") + e.what();
    return false;
  }
}

bool ListAccountLinks(TEnv& env, const std::string& AccountLoginName, std::vector<TGoogleDriveAccountLink>& Links,
                      std::string& Error) {
  Links.clear();
  Error.clear();
  if (IsBlank(AccountLoginName)) {
    Error = "Musteri hesap baglanti listesi icin kullanici adi bos.";
    return false;
  }
  // The customer as its login name, then every name a link may use for it.
  bool failed = false;
  const TCustomerNames first = ResolveCustomer(env, AccountLoginName, failed, Error);
  if (failed) return false;
  const TCustomerNames customer = ResolveCustomer(env, first.resolved, failed, Error);
  if (failed) return false;
  Error.clear();

  std::vector<TGoogleDriveAuthorizedAccount> pool;
  if (!ListAuthorizedAccounts(env, pool, Error)) return false;
  std::vector<TGoogleDriveAccountLink> all;
  if (!ReadAllLinks(env, all, Error)) return false;

  for (TGoogleDriveAccountLink& link : all) {
    if (!customer.Matches(link.AccountLoginName)) continue;
    for (const auto& account : pool) {
      if (!SameText(account.GoogleAccountID, link.GoogleAccountID)) continue;
      link.GoogleDisplayName = account.DisplayName;
      link.GoogleDriveEmail = account.GoogleDriveEmail;
      link.UpdatedAtText = account.UpdatedAtText;
      break;
    }
    Links.push_back(link);
  }
  std::stable_sort(Links.begin(), Links.end(), [](const auto& a, const auto& b) {
    if (a.IsDefault != b.IsDefault) return a.IsDefault;
    return FoldCase(a.GoogleDisplayName) < FoldCase(b.GoogleDisplayName);
  });
  return true;
}

bool GetDefaultAccountLinkToken(TEnv& env, const std::string& AccountLoginName, TTokenData& Token,
                                TGoogleDriveAccountLink& Link, std::string& Error) {
  Token = TTokenData();
  Link = TGoogleDriveAccountLink();
  std::vector<TGoogleDriveAccountLink> links;
  if (!ListAccountLinks(env, AccountLoginName, links, Error)) return false;
  if (links.empty()) return true;
  auto chosen = std::find_if(links.begin(), links.end(), [](const auto& l) { return l.IsDefault; });
  if (chosen == links.end() || IsBlank(chosen->LinkID)) chosen = links.begin();
  Link = *chosen;
  TGoogleDriveAuthorizedAccount account;
  if (!LoadAuthorizedAccountToken(env, Link.GoogleAccountID, account, Token, Error)) return false;
  Link.GoogleDisplayName = account.DisplayName;
  Link.GoogleDriveEmail = account.GoogleDriveEmail;
  Link.UpdatedAtText = account.UpdatedAtText;
  return true;
}

}  // namespace calvora
