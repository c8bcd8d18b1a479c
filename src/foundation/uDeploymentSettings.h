#pragma once
// The built-in connection values of a deployment: OAuth client and Google
// endpoints, the account directory's API key, database and service login,
// and the fallback mail server. Read from "deployment.ini" beside the
// executables (else /etc/calvora/deployment.ini); every value may be stored
// as a "dpapi:" envelope. Missing values keep the compiled-in defaults,
// which point at the public Google endpoints.
#include <string>

namespace calvora {

struct TDeploymentSettings {
  // [Google]
  // Placeholders in Google's form; a real deployment registers its own client.
  std::string GoogleClientID = "000000000000-00000000000000000000000000000000.apps.googleusercontent.com";
  std::string GoogleClientSecret = "GOCSPX-0000000000000000000000000000";
  std::string GoogleAuthEndpoint = "https://accounts.google.com/o/oauth2/v2/auth";
  std::string GoogleTokenEndpoint = "https://oauth2.googleapis.com/token";
  std::string DriveApiBase = "https://www.googleapis.com";     // + "/drive/v3/..."
  std::string DriveUploadBase = "https://www.googleapis.com";  // + "/upload/drive/v3/..."
  // [Firebase]
  std::string FirebaseApiKey;
  std::string FirebaseDatabaseURL;  // ends in "/"
  std::string FirebaseAuthBase = "https://identitytoolkit.googleapis.com";
  std::string FirebaseTokenBase = "https://securetoken.googleapis.com";
  std::string ServiceEmail;
  std::string ServicePassword;
  // [Mail]
  std::string SmtpHost;
  int SmtpPort = 587;
  std::string SmtpSender;
  std::string SmtpPassword;
};

// Reads one file over the defaults; a missing file gives the defaults.
TDeploymentSettings LoadDeploymentSettings(const std::string& path);
// The first existing of: deployment.ini beside the executables,
// /etc/calvora/deployment.ini; empty when neither exists.
std::string DefaultDeploymentFilePath();
// Writes every field (protected) to `path` (the demo and tests use this).
void SaveDeploymentSettings(const std::string& path, const TDeploymentSettings& settings);

}  // namespace calvora
