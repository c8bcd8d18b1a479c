#include "foundation/uDeploymentSettings.h"

#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uSecureString.h"
#include "platform/paths.h"

#include <functional>
#include <vector>

namespace calvora {
namespace {

struct Field {
  const char* section;
  const char* key;
  std::function<std::string&(TDeploymentSettings&)> text;
};

const std::vector<Field>& TextFields() {
  static const std::vector<Field> fields = {
      {"Google", "ClientID", [](TDeploymentSettings& s) -> std::string& { return s.GoogleClientID; }},
      {"Google", "ClientSecret", [](TDeploymentSettings& s) -> std::string& { return s.GoogleClientSecret; }},
      {"Google", "AuthEndpoint", [](TDeploymentSettings& s) -> std::string& { return s.GoogleAuthEndpoint; }},
      {"Google", "TokenEndpoint", [](TDeploymentSettings& s) -> std::string& { return s.GoogleTokenEndpoint; }},
      {"Google", "DriveApiBase", [](TDeploymentSettings& s) -> std::string& { return s.DriveApiBase; }},
      {"Google", "DriveUploadBase", [](TDeploymentSettings& s) -> std::string& { return s.DriveUploadBase; }},
      {"Firebase", "ApiKey", [](TDeploymentSettings& s) -> std::string& { return s.FirebaseApiKey; }},
      {"Firebase", "DatabaseURL", [](TDeploymentSettings& s) -> std::string& { return s.FirebaseDatabaseURL; }},
      {"Firebase", "AuthBase", [](TDeploymentSettings& s) -> std::string& { return s.FirebaseAuthBase; }},
      {"Firebase", "TokenBase", [](TDeploymentSettings& s) -> std::string& { return s.FirebaseTokenBase; }},
      {"Firebase", "ServiceEmail", [](TDeploymentSettings& s) -> std::string& { return s.ServiceEmail; }},
      {"Firebase", "ServicePassword", [](TDeploymentSettings& s) -> std::string& { return s.ServicePassword; }},
      {"Mail", "SmtpHost", [](TDeploymentSettings& s) -> std::string& { return s.SmtpHost; }},
      {"Mail", "SmtpSender", [](TDeploymentSettings& s) -> std::string& { return s.SmtpSender; }},
      {"Mail", "SmtpPassword", [](TDeploymentSettings& s) -> std::string& { return s.SmtpPassword; }},
  };
  return fields;
}

std::string OpenValue(const std::string& raw) {
  std::string plain;
  return TryUnprotectSecret(Trim(raw), plain) ? plain : std::string();
}

}  // namespace

TDeploymentSettings LoadDeploymentSettings(const std::string& path) {
  TDeploymentSettings settings;
  if (path.empty() || !FileExists(path)) return settings;
  std::string text;
  try {
    text = ReadTextFile(path);
  } catch (...) {
    return settings;
  }
  for (const auto& field : TextFields()) {
    std::string value = OpenValue(ReadIniRawValue(text, field.section, field.key));
    if (!value.empty()) field.text(settings) = value;
  }
  int port = 0;
  if (TryParseInt(OpenValue(ReadIniRawValue(text, "Mail", "SmtpPort")), port) && port > 0)
    settings.SmtpPort = port;
  return settings;
}

std::string DefaultDeploymentFilePath() {
  for (const std::string& candidate :
       {JoinPath(platform::ExecutableDir(), "deployment.ini"), std::string("/etc/calvora/deployment.ini")})
    if (FileExists(candidate)) return candidate;
  return std::string();
}

void SaveDeploymentSettings(const std::string& path, const TDeploymentSettings& settings) {
  TDeploymentSettings copy = settings;
  std::string text;
  for (const auto& field : TextFields())
    text = SetIniValue(text, field.section, field.key, ProtectSecret(field.text(copy)));
  text = SetIniValue(text, "Mail", "SmtpPort", ProtectSecret(std::to_string(settings.SmtpPort)));
  WriteTextFile(path, text, false);
}

}  // namespace calvora
