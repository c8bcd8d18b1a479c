#include "account/uMailSettingsStore.h"

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceAuth.h"
#include "foundation/AppError.h"
#include "foundation/JsonText.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <climits>
#include <cmath>
#include <mutex>

namespace calvora {
namespace {

constexpr std::int64_t kResolutionCacheMs = 120000;

// The last resolution, found or not; one per environment.
struct TMailResolutionCache {
  std::mutex lock;
  bool computed = false;
  TDateTime computedAt = 0;
  bool found = false;
  TRemoteMailSettings settings;
  std::string source;
};

[[noreturn]] void RaiseConversion(const char* member, const TJson& value) {
  throw EConvertError(Fmt("Mail ayari \"%s\" degeri gecersiz: %s", member, JsonToText(value)));
}

const TJson* Member(const TJson& object, const char* member) {
  auto it = object.find(member);
  return (it == object.end() || it->is_null()) ? nullptr : &*it;
}

std::string ReadText(const TJson& object, const char* member) {
  const TJson* value = Member(object, member);
  if (value == nullptr) return std::string();
  if (value->is_object() || value->is_array()) RaiseConversion(member, *value);
  return JsonValueText(*value);
}

int ReadInt(const TJson& object, const char* member, int fallback) {
  const TJson* value = Member(object, member);
  if (value == nullptr) return fallback;
  long long number = 0;
  if (value->is_number_integer()) {
    number = value->get<long long>();
  } else if (value->is_number_float()) {
    const double d = value->get<double>();
    if (std::trunc(d) != d || std::fabs(d) > INT_MAX) RaiseConversion(member, *value);
    number = static_cast<long long>(d);
  } else if (!value->is_string() || !TryParseInt64(value->get_ref<const std::string&>(), number)) {
    RaiseConversion(member, *value);
  }
  if (number < INT_MIN || number > INT_MAX) RaiseConversion(member, *value);
  return static_cast<int>(number);
}

bool ReadBool(const TJson& object, const char* member, bool fallback) {
  const TJson* value = Member(object, member);
  if (value == nullptr) return fallback;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_string()) {
    const std::string text = Trim(value->get_ref<const std::string&>());
    if (SameText(text, "true")) return true;
    if (SameText(text, "false")) return false;
  }
  RaiseConversion(member, *value);
}

TRemoteMailSettings NoSettings() {
  TRemoteMailSettings none;
  none.Port = 0;
  none.Pop3Port = 0;
  return none;
}

// Reads one definition; true only when it is there and usable.
bool ReadUsable(TEnv& env, const std::string& nodePath, TRemoteMailSettings& settings) {
  TRemoteMailSettings read;
  if (!ReadMailSettingsNode(env, nodePath, read) || !IsMailSettingsUsable(read)) return false;
  settings = read;
  return true;
}

}  // namespace

bool ReadMailSettingsNode(TEnv& env, const std::string& nodePath, TRemoteMailSettings& settings) {
  settings = TRemoteMailSettings();
  TFirebaseResponse answer;
  std::string error;
  if (!TFirebaseServiceAuth::Request(env, "GET", nodePath, nullptr, answer, error)) {
    LogWarnFmt("Mail ayari okunamadi (yetkilendirme): %s", error);
    return false;
  }
  // A refusal is an error, not a missing definition: the resolution logs it.
  std::string refusal;
  if (IsDatabaseErrorAnswer(answer, refusal)) throw EAppError("Mail ayari okunamadi: " + refusal);
  const std::string body = Trim(answer.Body);
  if (body.empty() || SameText(body, "null")) return false;
  TJson record;
  if (!TryParseJson(body, record) || !record.is_object()) return false;
  TRemoteMailSettings read;
  read.Enabled = ReadBool(record, "Enabled", false);
  read.Host = Trim(ReadText(record, "Host"));
  read.Port = ReadInt(record, "Port", 587);
  read.UseSsl = ReadBool(record, "UseSsl", false);
  read.UserName = Trim(ReadText(record, "UserName"));
  read.Password = ReadText(record, "Password");
  read.FromAddress = Trim(ReadText(record, "FromAddress"));
  read.FromName = Trim(ReadText(record, "FromName"));
  read.DefaultToAddresses = Trim(ReadText(record, "DefaultToAddresses"));
  read.PopBeforeSmtp = ReadBool(record, "PopBeforeSmtp", false);
  read.Pop3Host = Trim(ReadText(record, "Pop3Host"));
  read.Pop3Port = ReadInt(record, "Pop3Port", 110);
  settings = read;
  return true;
}

bool IsMailSettingsUsable(const TRemoteMailSettings& settings) {
  return settings.Enabled && !IsBlank(settings.Host) && settings.Port > 0 && !IsBlank(settings.FromAddress);
}

bool ResolveRemoteMailSettings(TEnv& env, TRemoteMailSettings& settings, std::string& source) {
  auto& cache = env.Shared<TMailResolutionCache>();
  std::lock_guard<std::mutex> guard(cache.lock);
  const TDateTime now = env.Now();
  if (cache.computed && now >= cache.computedAt &&
      MillisecondsBetween(now, cache.computedAt) < kResolutionCacheMs) {
    settings = cache.settings;
    source = cache.source;
    return cache.found;
  }

  TRemoteMailSettings resolved = NoSettings();
  std::string resolvedSource;
  bool found = false;
  try {
    TFirebaseManagedAccount account;
    std::string error;
    if (GetActiveAccount(env, account, error) && !Trim(account.BayiLoginName).empty()) {
      const std::string reseller = Trim(account.BayiLoginName);
      if (ReadUsable(env, DatabaseChildPath("MailSettings/Bayiler", SanitizeAccountKey(reseller)), resolved)) {
        resolvedSource = "bayi:" + reseller;
        found = true;
      }
    }
    if (!found && ReadUsable(env, "MailSettings/Admin", resolved)) {
      resolvedSource = "admin";
      found = true;
    }
  } catch (const std::exception& e) {
    LogException("Mail gonderim ayari okunamadi; varsayilan kullanilacak", e);
    found = false;
  }
  if (!found) {
    resolved = NoSettings();
    resolvedSource.clear();
  }
  cache.computed = true;
  cache.computedAt = env.Now();
  cache.found = found;
  cache.settings = resolved;
  cache.source = resolvedSource;
  settings = resolved;
  source = resolvedSource;
  return found;
}

TSMTPReportConfig GetReportMailConfig(TEnv& env) {
  const TDeploymentSettings& deployment = env.Deployment();
  TSMTPReportConfig config;
  config.Enabled = true;
  config.Host = deployment.SmtpHost;
  config.Port = deployment.SmtpPort;
  config.UseSSL = false;
  config.UserName = deployment.SmtpSender;
  config.Password = deployment.SmtpPassword;
  config.FromAddress = deployment.SmtpSender;
  config.FromName = kDefaultMailFromName;
  config.ToAddresses = deployment.SmtpSender;
  config.PopBeforeSmtp = true;
  config.Pop3Host = deployment.SmtpHost;
  config.Pop3Port = 110;

  TRemoteMailSettings remote;
  std::string source;
  if (ResolveRemoteMailSettings(env, remote, source)) {
    config.Enabled = true;
    config.Host = Trim(remote.Host);
    config.Port = remote.Port;
    config.UseSSL = remote.UseSsl;
    config.UserName = Trim(remote.UserName);
    config.Password = remote.Password;
    config.FromAddress = Trim(remote.FromAddress);
    config.FromName = Trim(remote.FromName).empty() ? std::string(kDefaultMailFromName) : Trim(remote.FromName);
    config.ToAddresses = Trim(remote.DefaultToAddresses).empty() ? config.FromAddress : Trim(remote.DefaultToAddresses);
    config.PopBeforeSmtp = remote.PopBeforeSmtp;
    config.Pop3Host = Trim(remote.Pop3Host);
    config.Pop3Port = remote.Pop3Port;
    LogInfoFmt("Mail gonderimi ozel SMTP tanimiyla yapilacak (%s: %s).", source, config.Host);
  }
  return config;
}

bool IsReportMailConfigured(TEnv& env) { return IsReportMailConfigured(GetReportMailConfig(env)); }

bool IsReportMailConfigured(const TSMTPReportConfig& config) {
  return config.Enabled && !IsBlank(config.Host) && config.Port > 0 &&
         (!config.PopBeforeSmtp || (!IsBlank(config.Pop3Host) && config.Pop3Port > 0)) &&
         !IsBlank(config.FromAddress) && !IsBlank(config.ToAddresses);
}

}  // namespace calvora
