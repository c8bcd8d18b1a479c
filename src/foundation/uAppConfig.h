#pragma once
// The configuration of both programs: where the shared data directory lies,
// and "config.ini" in it with every value stored as a "dpapi:" envelope.
#include "foundation/uDeploymentSettings.h"

#include <string>

namespace calvora {

struct TMSSQLBackupConfig {
  bool Enabled = false;
  std::string Server;
  std::string UserName;
  std::string Password;
  std::string BackupOutputDir;
};

struct TFirebirdBackupConfig {
  bool Enabled = false;
  std::string Server;
  int Port = 0;
  std::string UserName;
  std::string Password;
  std::string GBackPath;
  std::string BackupOutputDir;
};

// A program folder that the system's package manager owns holds this file.
// Nothing is written beside such executables: the data directory is the
// shared one from the start, and new versions come from the package manager.
inline constexpr const char kPackageManagedMarker[] = "package-managed";
bool IsPackageManagedProgramDir(const std::string& Dir);

// What the start-up pass looks at to choose the data directory; tests point
// these at folders of their own.
struct TConfigLocations {
  std::string ExecutableDir;
  std::string ProgramData;  // PROGRAMDATA (empty string: unset/empty)
  std::string AppData;      // APPDATA
  TDeploymentSettings Deployment;  // built-in OAuth client defaults
  static TConfigLocations FromProcess();
};

class TAppConfig {
 public:
  // The process-wide object, made from TConfigLocations::FromProcess() on
  // first call.
  static TAppConfig& Instance();

  // Runs the start-up steps (data directory, legacy migration, re-protection
  // of every stored value). Throws when a legacy copy or a write fails.
  explicit TAppConfig(const TConfigLocations& locations);

  std::string GetConfigDir() const { return FConfigDir; }
  std::string GetConfigFilePath() const { return FConfigFile; }
  std::string GetGoogleTokenCachePath() const;

  std::string GetClientID() const;
  void SetClientID(const std::string& Value);
  std::string GetClientSecret() const;
  void SetClientSecret(const std::string& Value);
  std::string GetRootFolderID() const;
  void SetRootFolderID(const std::string& Value);
  int GetAuthPort() const;
  void SetAuthPort(int Value);
  TMSSQLBackupConfig GetMSSQLBackupConfig() const;
  void SetMSSQLBackupConfig(const TMSSQLBackupConfig& Value);
  TFirebirdBackupConfig GetFirebirdBackupConfig() const;
  void SetFirebirdBackupConfig(const TFirebirdBackupConfig& Value);

 private:
  std::string ReadRawValue(const std::string& Section, const std::string& Key) const;
  std::string ReadString(const std::string& Section, const std::string& Key, const std::string& Default) const;
  void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
  int ReadInteger(const std::string& Section, const std::string& Key, int Default) const;
  void WriteInteger(const std::string& Section, const std::string& Key, int Value);
  bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;
  void WriteBool(const std::string& Section, const std::string& Key, bool Value);
  void MigrateLegacyFiles(const TConfigLocations& locations);
  void ReprotectStoredValues();

  std::string FConfigDir;
  std::string FConfigFile;
  std::string FBuiltInClientID;
  std::string FBuiltInClientSecret;
};

}  // namespace calvora
