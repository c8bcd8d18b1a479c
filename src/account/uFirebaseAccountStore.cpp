#include "account/uFirebaseAccountStore.h"

#include "account/uFirebaseServiceAuth.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <algorithm>
#include <mutex>

namespace calvora {
namespace {

constexpr const char kRootNode[] = "Lisanslar";
constexpr std::int64_t kListCacheMs = 120000;

// The last successfully read, non-empty account list; one per environment.
struct TAccountListCache {
  std::mutex lock;
  bool filled = false;
  TDateTime readAt = 0;
  std::vector<TFirebaseManagedAccount> list;
};

bool IsSeparatorCodePoint(char32_t cp) {
  if ((cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0) return true;
  // Unicode space separators (Zs), line separator (Zl), paragraph separator (Zp).
  return cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

std::string AliasValueText(const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::string:
      return value.get_ref<const std::string&>();
    case TJson::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case TJson::value_t::null:
      return "null";
    case TJson::value_t::number_integer:
    case TJson::value_t::number_unsigned:
    case TJson::value_t::number_float:
      return value.dump();
    default:
      return std::string();
  }
}

std::string JoinNodePath(const std::string& a, const std::string& b) { return a.empty() ? b : a + "/" + b; }

bool SameAccount(const TFirebaseManagedAccount& account, const std::string& login) {
  return SameText(account.LoginName, login) || SameText(account.Email, login) || SameText(account.NodeName, login);
}

bool IsNullBody(const std::string& trimmedBody) { return trimmedBody.empty() || SameText(trimmedBody, "null"); }

}  // namespace

bool TFirebaseManagedAccount::TotpEnabled() const { return !Trim(TotpSecret).empty() && TotpEnabledFlag; }

std::string ReplaceDatabaseKeyCharacters(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8At(text, i, cp);
    if (len == 0) {
      out += text[i++];
      continue;
    }
    const bool forbidden = cp == '#' || cp == '$' || cp == '.' || cp == '/' || cp == '[' || cp == ']' || cp == '\\';
    if (forbidden || IsSeparatorCodePoint(cp))
      out += '_';
    else
      out.append(text, i, len);
    i += len;
  }
  return out;
}

std::string SanitizeAccountKey(const std::string& text) {
  std::string key = Trim(ReplaceDatabaseKeyCharacters(Trim(text)));
  return key.empty() ? "hesap" : key;
}

std::string ReadAliasedField(const TJson& record, std::initializer_list<const char*> candidates) {
  if (!record.is_object()) return std::string();
  for (const char* candidate : candidates) {
    for (auto it = record.begin(); it != record.end(); ++it) {
      if (!SameText(Trim(ReplaceAll(it.key(), "\"", "")), candidate)) continue;
      std::string text = AliasValueText(it.value());
      if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
      return Trim(text);
    }
  }
  return std::string();
}

bool IsAccountRecord(const TJson& value) {
  if (!value.is_object()) return false;
  return !ReadAliasedField(value, {"Email", "Eposta", "KullaniciAdi", "LoginName"}).empty() ||
         !ReadAliasedField(value, {"Sifre", "Password", "Parola"}).empty();
}

TFirebaseManagedAccount ParseManagedAccount(const std::string& nodePath, const std::string& nodeName,
                                            const TJson& record) {
  TFirebaseManagedAccount a;
  a.NodePath = nodePath;
  a.NodeName = nodeName;
  a.LoginName = ReadAliasedField(record, {"LoginName", "KullaniciAdi", "Email", "Eposta"});
  a.Email = ReadAliasedField(record, {"Email", "Eposta", "LoginName", "KullaniciAdi"});
  a.Password = ReadAliasedField(record, {"Sifre", "Password", "Parola"});
  a.DisplayName = ReadAliasedField(record, {"Musteri", "Unvan", "Name"});
  a.CreatedAtText = ReadAliasedField(record, {"CreatedAt", "OlusturmaTarihi"});
  a.UpdatedAtText = ReadAliasedField(record, {"UpdatedAt", "GuncellemeTarihi"});
  long long quota = 0;
  if (TryParseInt64(Trim(ReadAliasedField(record, {"KotaMB", "StorageQuotaMB"})), quota) && quota >= 0)
    a.StorageQuotaMB = quota;
  a.ServiceStatusText = ReadAliasedField(record, {"ServisDurumu", "ServiceStatus"});
  a.ServiceActiveHoursText = ReadAliasedField(record, {"ServisAktifCalismaSaati", "ServiceActiveHours"});
  a.ServiceLastHeartbeatText = ReadAliasedField(record, {"ServisSonBildirim", "ServiceLastHeartbeat"});
  a.LastPlanExecutionText = ReadAliasedField(record, {"SonPlanGerceklestirmeSaati", "LastPlanExecutionAt"});
  a.OAuthClientID = ReadAliasedField(record, {"OAuthClientID"});
  a.OAuthClientSecret = ReadAliasedField(record, {"OAuthClientSecret"});
  a.BackupPolicyId = ReadAliasedField(record, {"YedeklemePolitikaId"});
  a.BayiLoginName = ReadAliasedField(record, {"BayiLoginName"});
  a.TotpSecret = ReadAliasedField(record, {"TwoFactorSecret", "GoogleAuthSecret", "TotpSecret"});
  const std::string enabled = ReadAliasedField(record, {"TwoFactorEnabled"});
  a.TotpEnabledFlag = enabled.empty() ? !Trim(a.TotpSecret).empty() : (SameText(enabled, "true") || enabled == "1");
  if (a.LoginName.empty()) a.LoginName = a.NodeName;
  if (a.Email.empty()) a.Email = a.LoginName;
  if (a.DisplayName.empty()) a.DisplayName = a.LoginName;
  return a;
}

void CollectManagedAccounts(const TJson& value, const std::string& path, const std::string& name,
                            std::vector<TFirebaseManagedAccount>& list) {
  if (value.is_object()) {
    if (IsAccountRecord(value)) list.push_back(ParseManagedAccount(path, name, value));
    for (auto it = value.begin(); it != value.end(); ++it)
      CollectManagedAccounts(it.value(), JoinNodePath(path, it.key()), it.key(), list);
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      const std::string index = std::to_string(i);
      CollectManagedAccounts(value[i], JoinNodePath(path, index), index, list);
    }
  }
}

void SortManagedAccounts(std::vector<TFirebaseManagedAccount>& list) {
  std::stable_sort(list.begin(), list.end(), [](const TFirebaseManagedAccount& a, const TFirebaseManagedAccount& b) {
    const std::string la = FoldCase(a.LoginName), lb = FoldCase(b.LoginName);
    if (la != lb) return la < lb;
    return FoldCase(a.NodePath) < FoldCase(b.NodePath);
  });
}

bool ListManagedAccounts(TEnv& env, std::vector<TFirebaseManagedAccount>& list, std::string& error) {
  list.clear();
  error.clear();
  auto& cache = env.Shared<TAccountListCache>();
  // Held through the read, so concurrent callers make one request.
  std::lock_guard<std::mutex> guard(cache.lock);
  const TDateTime now = env.Now();
  if (cache.filled && now >= cache.readAt && MillisecondsBetween(now, cache.readAt) < kListCacheMs) {
    list = cache.list;
    return true;
  }

  try {
    TFirebaseResponse answer;
    if (!TFirebaseServiceAuth::Request(env, "GET", kRootNode, nullptr, answer, error)) return false;
    std::string refusal;
    if (IsDatabaseErrorAnswer(answer, refusal)) {
      error = "Hesap listesi okunurken hata: " + refusal;
      return false;
    }
    const std::string body = Trim(answer.Body);
    if (IsNullBody(body)) return true;
    TJson root;
    if (!TryParseJson(body, root)) {
      error = "Firebase hesap verisi okunamadi.";
      return false;
    }
    std::vector<TFirebaseManagedAccount> found;
    CollectManagedAccounts(root, std::string(), std::string(), found);
    SortManagedAccounts(found);
    if (!found.empty()) {
      cache.list = found;
      cache.readAt = env.Now();
      cache.filled = true;
    }
    list = std::move(found);
    return true;
  } catch (const std::exception& e) {
    LogException("Hesap listesi okunurken hata: ", e);
    error = std::string("Hesap listesi okunurken hata: ") + e.what();
    list.clear();
    return false;
  }
}

bool ReadAccountDirect(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                       std::string& error) {
  account = TFirebaseManagedAccount();
  error.clear();
  if (Trim(login).empty()) return false;
  try {
    const std::string key = SanitizeAccountKey(login);
    TFirebaseResponse answer;
    if (!TFirebaseServiceAuth::Request(env, "GET", DatabaseChildPath(kRootNode, key), nullptr, answer, error))
      return false;
    std::string refusal;
    if (IsDatabaseErrorAnswer(answer, refusal)) {
      error = "Hesap dogrudan okunurken hata: " + refusal;
      return false;
    }
    const std::string body = Trim(answer.Body);
    if (IsNullBody(body)) return false;
    TJson record;
    if (!TryParseJson(body, record) || !record.is_object()) return false;
    account = ParseManagedAccount(std::string(kRootNode) + "/" + key, key, record);
    return true;
  } catch (const std::exception& e) {
    LogException("Hesap dogrudan okunurken hata: ", e);
    error = std::string("Hesap dogrudan okunurken hata: ") + e.what();
    return false;
  }
}

TAccountLookup LookupManagedAccount(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                                    std::string& error) {
  account = TFirebaseManagedAccount();
  error.clear();
  const std::string name = Trim(login);
  if (name.empty()) {
    error = "Kullanici adi bos.";
    return TAccountLookup::Failed;
  }
  if (ReadAccountDirect(env, name, account, error)) return TAccountLookup::Found;
  // Only a node that is not there sends the search on to the whole list.
  if (!error.empty()) return TAccountLookup::Failed;
  std::vector<TFirebaseManagedAccount> list;
  if (!ListManagedAccounts(env, list, error)) return TAccountLookup::Failed;
  for (const auto& candidate : list) {
    if (SameAccount(candidate, name)) {
      account = candidate;
      return TAccountLookup::Found;
    }
  }
  error = "Hesap bulunamadi: " + name;
  return TAccountLookup::NotFound;
}

bool FindManagedAccount(TEnv& env, const std::string& login, TFirebaseManagedAccount& account,
                        std::string& error) {
  return LookupManagedAccount(env, login, account, error) == TAccountLookup::Found;
}

bool WriteAccountFields(TEnv& env, const std::string& login, const TJson& fields, std::string& error) {
  error.clear();
  const std::string name = Trim(login);
  if (name.empty()) {
    error = "Servis hesabinin kullanici adi bulunamadi.";
    return false;
  }
  std::vector<TFirebaseManagedAccount> list;
  if (!ListManagedAccounts(env, list, error)) return false;
  std::string path;
  for (const auto& candidate : list) {
    if (!SameAccount(candidate, name)) continue;
    path = Trim(candidate.NodePath);
    if (!path.empty() && !SameText(path, kRootNode) && !StartsText(path, std::string(kRootNode) + "/"))
      path = std::string(kRootNode) + "/" + path;
    break;
  }
  if (path.empty()) {
    error = "Servis hesabi Firebase'de bulunamadi: " + name;
    return false;
  }
  try {
    TFirebaseResponse answer;
    if (!TFirebaseServiceAuth::Request(env, "PATCH", EncodeDatabaseNodePath(path), &fields, answer, error))
      return false;
    std::string refusal;
    if (IsDatabaseErrorAnswer(answer, refusal)) {
      error = "Servis bilgileri Firebase'e yazilamadi: " + refusal;
      return false;
    }
  } catch (const std::exception& e) {
    LogException("Servis bilgileri Firebase'e yazilamadi: ", e);
    error = std::string("Servis bilgileri Firebase'e yazilamadi: ") + e.what();
    return false;
  }
  auto& cache = env.Shared<TAccountListCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.filled = false;
  cache.list.clear();
  return true;
}

}  // namespace calvora
