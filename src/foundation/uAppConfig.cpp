#include "foundation/uAppConfig.h"

#include "foundation/AppError.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "foundation/uSecureString.h"
#include "platform/file_io.h"
#include "platform/paths.h"

#include <filesystem>
#include <system_error>

namespace calvora {
namespace {

struct StoredKey {
  const char* section;
  const char* key;
};

// Every key of config.ini, in the order the start-up pass visits them.
constexpr StoredKey kStoredKeys[] = {
    {"Google", "ClientID"},           {"Google", "ClientSecret"},
    {"Google", "RootFolderID"},       {"Google", "AuthPort"},
    {"MSSQLBackup", "Enabled"},       {"MSSQLBackup", "Server"},
    {"MSSQLBackup", "UserName"},      {"MSSQLBackup", "Password"},
    {"MSSQLBackup", "BackupOutputDir"}, {"FirebirdBackup", "Enabled"},
    {"FirebirdBackup", "Server"},     {"FirebirdBackup", "Port"},
    {"FirebirdBackup", "UserName"},   {"FirebirdBackup", "Password"},
    {"FirebirdBackup", "GBackPath"},  {"FirebirdBackup", "BackupOutputDir"},
};

constexpr const char* kLegacyFiles[] = {"config.ini",       "projects.json",     "versions.json",
                                        "calvora.db",       "backupplans.json",  "planactivity.json",
                                        "log.txt",          "log.old.txt"};

// Errors are ignored: the caller looks whether the folder exists.
void EnsureConfigDir(const std::string& dir) { platform::CreateSharedDirectory(dir); }

// A copy that a crash cannot leave half-written under the final name; the
// content is streamed, whatever the file's size.
void CopyFileAtomically(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  const std::string temp = platform::TempNameBeside(to);
  std::error_code ec;
  fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temp, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw EFileError("Dosya kopyalanamadi: " + from + " -> " + to + ": " + ec.message());
  }
}

}  // namespace

bool IsPackageManagedProgramDir(const std::string& Dir) {
  return !Dir.empty() && FileExists(JoinPath(Dir, kPackageManagedMarker));
}

TConfigLocations TConfigLocations::FromProcess() {
  TConfigLocations locations;
  locations.ExecutableDir = platform::ExecutableDir();
  locations.ProgramData = platform::ProgramDataDir();
  locations.AppData = platform::AppDataDir();
  locations.Deployment = LoadDeploymentSettings(DefaultDeploymentFilePath());
  return locations;
}

TAppConfig& TAppConfig::Instance() {
  static TAppConfig instance(TConfigLocations::FromProcess());
  return instance;
}

TAppConfig::TAppConfig(const TConfigLocations& locations)
    : FBuiltInClientID(locations.Deployment.GoogleClientID),
      FBuiltInClientSecret(locations.Deployment.GoogleClientSecret) {
  const bool besideExecutables = !IsPackageManagedProgramDir(locations.ExecutableDir);
  if (besideExecutables) {
    FConfigDir = JoinPath(ExcludeTrailingSeparator(locations.ExecutableDir), "config");
    EnsureConfigDir(FConfigDir);
  }
  if (!besideExecutables || !DirectoryExists(FConfigDir)) {
    std::string fallback = IncludeTrailingSeparator(locations.ProgramData) + "Calvora";
    if (Trim(fallback) == "/Calvora") fallback = ExcludeTrailingSeparator(locations.AppData) + "/Calvora";
    FConfigDir = fallback;
    EnsureConfigDir(FConfigDir);
  }
  FConfigDir = ExcludeTrailingSeparator(FConfigDir);
  FConfigFile = JoinPath(FConfigDir, "config.ini");
  RegisterProtectedDataDir(FConfigDir);
  platform::RemoveStaleTempFiles(FConfigDir);
  MigrateLegacyFiles(locations);
  ReprotectStoredValues();
}

void TAppConfig::MigrateLegacyFiles(const TConfigLocations& locations) {
  const std::string legacy = IncludeTrailingSeparator(locations.AppData) + "Calvora";
  if (SameText(ExcludeTrailingSeparator(legacy), ExcludeTrailingSeparator(FConfigDir)) ||
      !DirectoryExists(legacy))
    return;
  for (const char* name : kLegacyFiles) {
    const std::string from = JoinPath(legacy, name);
    const std::string to = JoinPath(FConfigDir, name);
    if (FileExists(from) && !FileExists(to)) CopyFileAtomically(from, to);
  }
}

// All rewrites of the pass go to the file in one atomic replacement.
void TAppConfig::ReprotectStoredValues() {
  if (!FileExists(FConfigFile)) return;
  const std::string original = ReadTextFile(FConfigFile);
  std::string text = original;
  bool unopenedLogged = false;
  for (const auto& [section, key] : kStoredKeys) {
    const std::string raw = ReadIniRawValue(text, section, key);
    if (raw.empty()) continue;
    std::string plain;
    if (IsProtectedSecret(raw)) {
      if (!TryUnprotectSecret(raw, plain)) {
        if (!unopenedLogged) {
          if (const std::string fault = MachineKeyFault(); !fault.empty())
            LogErrorFmt("config.ini degerleri acilamadi, oldugu gibi birakildi: %s", fault);
          unopenedLogged = true;
        }
        continue;
      }
    } else if (IsBlank(raw)) {
      continue;
    } else {
      plain = raw;
    }
    text = SetIniValue(text, section, key, ProtectSecret(plain));
  }
  if (text != original) WriteTextFile(FConfigFile, text, false);
}

std::string TAppConfig::GetGoogleTokenCachePath() const {
  const std::string path = JoinPath(FConfigDir, "syc.dat");
  const std::string legacy = JoinPath(FConfigDir, "google_tokens.dat");
  if (!FileExists(path) && FileExists(legacy)) {
    std::error_code ec;
    std::filesystem::rename(legacy, path, ec);
  }
  return path;
}

std::string TAppConfig::ReadRawValue(const std::string& Section, const std::string& Key) const {
  return ReadIniFileValue(FConfigFile, Section, Key);
}

std::string TAppConfig::ReadString(const std::string& Section, const std::string& Key,
                                   const std::string& Default) const {
  const std::string raw = ReadRawValue(Section, Key);
  if (raw.empty()) return Default;
  std::string plain;
  return TryUnprotectSecret(raw, plain) ? plain : Default;
}

void TAppConfig::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
  WriteIniFileValue(FConfigFile, Section, Key, Value.empty() ? std::string() : ProtectSecret(Value));
}

int TAppConfig::ReadInteger(const std::string& Section, const std::string& Key, int Default) const {
  const std::string text = ReadString(Section, Key, "");
  int value = 0;
  return !text.empty() && TryParseInt(text, value) ? value : Default;
}

void TAppConfig::WriteInteger(const std::string& Section, const std::string& Key, int Value) {
  WriteString(Section, Key, std::to_string(Value));
}

bool TAppConfig::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
  const std::string text = ReadString(Section, Key, "");
  if (text.empty()) return Default;
  return SameText(text, "true") || text == "1";
}

void TAppConfig::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
  WriteString(Section, Key, Value ? "true" : "false");
}

std::string TAppConfig::GetClientID() const { return ReadString("Google", "ClientID", FBuiltInClientID); }
void TAppConfig::SetClientID(const std::string& Value) { WriteString("Google", "ClientID", Value); }
std::string TAppConfig::GetClientSecret() const {
  return ReadString("Google", "ClientSecret", FBuiltInClientSecret);
}
void TAppConfig::SetClientSecret(const std::string& Value) { WriteString("Google", "ClientSecret", Value); }
std::string TAppConfig::GetRootFolderID() const { return ReadString("Google", "RootFolderID", ""); }
void TAppConfig::SetRootFolderID(const std::string& Value) { WriteString("Google", "RootFolderID", Value); }
int TAppConfig::GetAuthPort() const { return ReadInteger("Google", "AuthPort", 8080); }
void TAppConfig::SetAuthPort(int Value) { WriteInteger("Google", "AuthPort", Value); }

TMSSQLBackupConfig TAppConfig::GetMSSQLBackupConfig() const {
  TMSSQLBackupConfig c;
  c.Enabled = ReadBool("MSSQLBackup", "Enabled", false);
  c.Server = ReadString("MSSQLBackup", "Server", "");
  c.UserName = ReadString("MSSQLBackup", "UserName", "");
  c.Password = ReadString("MSSQLBackup", "Password", "");
  c.BackupOutputDir = Trim(ReadString("MSSQLBackup", "BackupOutputDir", ""));
  return c;
}

void TAppConfig::SetMSSQLBackupConfig(const TMSSQLBackupConfig& Value) {
  WriteBool("MSSQLBackup", "Enabled", Value.Enabled);
  WriteString("MSSQLBackup", "Server", Value.Server);
  WriteString("MSSQLBackup", "UserName", Value.UserName);
  WriteString("MSSQLBackup", "Password", Value.Password);
  WriteString("MSSQLBackup", "BackupOutputDir", Value.BackupOutputDir);
}

TFirebirdBackupConfig TAppConfig::GetFirebirdBackupConfig() const {
  TFirebirdBackupConfig c;
  c.Enabled = ReadBool("FirebirdBackup", "Enabled", false);
  c.Server = ReadString("FirebirdBackup", "Server", "localhost");
  c.Port = ReadInteger("FirebirdBackup", "Port", 3050);
  c.UserName = ReadString("FirebirdBackup", "UserName", "SYSDBA");
  c.Password = ReadString("FirebirdBackup", "Password", "");
  c.GBackPath = Trim(ReadString("FirebirdBackup", "GBackPath", ""));
  c.BackupOutputDir = Trim(ReadString("FirebirdBackup", "BackupOutputDir", ""));
  return c;
}

void TAppConfig::SetFirebirdBackupConfig(const TFirebirdBackupConfig& Value) {
  WriteBool("FirebirdBackup", "Enabled", Value.Enabled);
  WriteString("FirebirdBackup", "Server", Value.Server);
  WriteInteger("FirebirdBackup", "Port", Value.Port);
  WriteString("FirebirdBackup", "UserName", Value.UserName);
  WriteString("FirebirdBackup", "Password", Value.Password);
  WriteString("FirebirdBackup", "GBackPath", Value.GBackPath);
  WriteString("FirebirdBackup", "BackupOutputDir", Value.BackupOutputDir);
}

}  // namespace calvora
