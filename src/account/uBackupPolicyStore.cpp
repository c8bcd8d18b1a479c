#include "account/uBackupPolicyStore.h"

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceAuth.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/wildcard.h"

#include <mutex>

namespace calvora {
namespace {

constexpr const char kPolicyNode[] = "YedeklemePolitikalari";
constexpr std::int64_t kPolicyCacheMs = 120000;

// The one policy last read; one per environment.
struct TPolicyCache {
  std::mutex lock;
  bool valid = false;
  std::string key;
  TDateTime readAt = 0;
  TBackupPolicy policy;
};

std::string PatternText(const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::string:
    case TJson::value_t::boolean:
    case TJson::value_t::number_integer:
    case TJson::value_t::number_unsigned:
    case TJson::value_t::number_float:
      return Trim(JsonValueText(value));
    default:
      return std::string();
  }
}

// An array in order, or an object's values in stored order; anything else
// is no list.
std::vector<std::string> ReadPatternList(const TJson& record, const char* member) {
  std::vector<std::string> patterns;
  auto it = record.find(member);
  if (it == record.end() || !(it->is_array() || it->is_object())) return patterns;
  for (const auto& element : *it) {
    std::string text = PatternText(element);
    if (!text.empty()) patterns.push_back(std::move(text));
  }
  return patterns;
}

}  // namespace

std::string SanitizePolicyKey(const std::string& policyId) {
  return Trim(ReplaceDatabaseKeyCharacters(Trim(policyId)));
}

bool ReadBackupPolicy(TEnv& env, const std::string& policyId, TBackupPolicy& policy, std::string& error) {
  policy = TBackupPolicy();
  error.clear();
  const std::string key = SanitizePolicyKey(policyId);
  if (key.empty()) {
    error = "Politika kimligi bos.";
    return false;
  }
  auto& cache = env.Shared<TPolicyCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  const TDateTime now = env.Now();
  if (cache.valid && SameText(cache.key, key) && now >= cache.readAt &&
      MillisecondsBetween(now, cache.readAt) < kPolicyCacheMs) {
    policy = cache.policy;
    return true;
  }

  try {
    TFirebaseResponse answer;
    if (!TFirebaseServiceAuth::Request(env, "GET", DatabaseChildPath(kPolicyNode, key), nullptr, answer, error))
      return false;
    std::string refusal;
    if (IsDatabaseErrorAnswer(answer, refusal)) {
      error = "Yedekleme politikasi okunurken hata: " + refusal;
      return false;
    }
    const std::string body = Trim(answer.Body);
    if (body.empty() || SameText(body, "null")) {
      error = "Yedekleme politikasi Firebase'de bulunamadi: " + policyId;
      return false;
    }
    TJson record;
    if (!TryParseJson(body, record) || !record.is_object()) {
      error = "Yedekleme politikasi verisi okunamadi: " + policyId;
      return false;
    }
    TBackupPolicy read;
    read.PolicyId = key;
    auto name = record.find("Ad");
    read.Name = (name == record.end() || name->is_null()) ? key : JsonValueText(*name);
    read.Description = JsonMemberText(record, "Aciklama");
    read.IncludePatterns = ReadPatternList(record, "DahilListesi");
    read.ExcludePatterns = ReadPatternList(record, "HaricListesi");
    cache.valid = true;
    cache.key = key;
    cache.readAt = env.Now();
    cache.policy = read;
    policy = std::move(read);
    return true;
  } catch (const std::exception& e) {
    LogException("Yedekleme politikasi okunurken hata: ", e);
    error = std::string("Yedekleme politikasi okunurken hata: ") + e.what();
    return false;
  }
}

bool GetActiveBackupPolicy(TEnv& env, TBackupPolicy& policy, bool& hasPolicy, std::string& error) {
  hasPolicy = false;
  policy = TBackupPolicy();
  error.clear();
  TFirebaseManagedAccount account;
  if (!GetActiveAccount(env, account, error)) return false;
  if (Trim(account.BackupPolicyId).empty()) return true;
  hasPolicy = true;
  return ReadBackupPolicy(env, account.BackupPolicyId, policy, error);
}

bool MatchesPolicyMask(const std::string& fileName, const std::string& mask) {
  // Folded first so the Turkish letters match too (I/ı, İ/i).
  return platform::WildcardMatch(FoldCase(fileName), FoldCase(mask), true);
}

bool IsFileAllowedByPolicy(const TBackupPolicy& policy, const std::string& filePath) {
  const std::string name = ExtractFileName(filePath);
  for (const auto& mask : policy.ExcludePatterns)
    if (MatchesPolicyMask(name, mask)) return false;
  if (policy.IncludePatterns.empty()) return true;
  for (const auto& mask : policy.IncludePatterns)
    if (MatchesPolicyMask(name, mask)) return true;
  return false;
}

}  // namespace calvora
