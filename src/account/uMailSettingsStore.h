#pragma once
// Which SMTP server sends the report mails: the reseller's own definition
// ("MailSettings/Bayiler/<key>"), else the directory-wide one
// ("MailSettings/Admin"), else the deployment's built-in server.
#include "foundation/Env.h"

#include <string>

namespace calvora {

struct TRemoteMailSettings {
  bool Enabled = false;
  std::string Host;
  int Port = 587;
  bool UseSsl = false;
  std::string UserName;
  std::string Password;
  std::string FromAddress;
  std::string FromName;
  std::string DefaultToAddresses;  // separated by ";" or ","
  bool PopBeforeSmtp = false;
  std::string Pop3Host;
  int Pop3Port = 110;
};

// The effective settings handed to the report mailer.
struct TSMTPReportConfig {
  bool Enabled = false;
  std::string Host;
  int Port = 0;
  bool UseSSL = false;
  std::string UserName;
  std::string Password;
  std::string FromAddress;
  std::string FromName;
  std::string ToAddresses;  // separated by ";" or ","
  bool PopBeforeSmtp = false;
  std::string Pop3Host;
  int Pop3Port = 0;
};

// Sender name when a definition names none, and of the built-in server.
inline constexpr const char kDefaultMailFromName[] = "Brimora";

// True when the node holds a JSON object (read into `settings`); false when
// there is no connection (logged), the node is missing or not an object.
// Throws EAppError when a member cannot be converted to its type (a "Port"
// that is not a number), the database refuses the read, or the request
// fails below HTTP.
bool ReadMailSettingsNode(TEnv& env, const std::string& nodePath, TRemoteMailSettings& settings);
// Enabled, a host, Port > 0 and a sender address.
bool IsMailSettingsUsable(const TRemoteMailSettings& settings);
// A usable reseller or administrator definition; `source` is "bayi:<login>"
// or "admin". The outcome, found or not, is reused for 120 s. Never throws.
bool ResolveRemoteMailSettings(TEnv& env, TRemoteMailSettings& settings, std::string& source);
// The resolved definition, or the built-in server from the deployment
// settings when there is none.
TSMTPReportConfig GetReportMailConfig(TEnv& env);
// The effective settings are complete enough to send.
bool IsReportMailConfigured(TEnv& env);
// The same test on settings already in hand (no second resolution).
bool IsReportMailConfigured(const TSMTPReportConfig& config);

}  // namespace calvora
