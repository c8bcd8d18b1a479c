// The backup scripts in the program's "sql" folder: config, payload and
// result travel as JSON files in a private temporary folder, because the
// config carries the database password.
#include "engine/uCloudBackup.h"

#include "engine/WorkFolderFiles.h"
#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/PrivateTemp.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace calvora {
namespace {

constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";
constexpr size_t kOutputLogLimit = 2000;

// The texts of one kind of script run.
struct TScriptTexts {
  const char* Folder;
  const char* NoResult;
  const char* Unreadable;
};

constexpr TScriptTexts kBackupRun{"CalvoraBackup", "Backup script sonucu uretmedi. Cikis kodu: %d",
                                  "Backup script sonucu okunamadi."};
constexpr TScriptTexts kListRun{"CalvoraSqlBackup", "SQL veritabani listeleme sonucu uretmedi. Cikis kodu: %d",
                                "SQL veritabani listeleme sonucu okunamadi."};

std::string ScriptFile(const TEnv& env, const std::string& name, const std::string& missingText) {
  std::string path = JoinPath(JoinPath(env.ProgramDir(), "sql"), name);
  if (!FileExists(path)) throw EAppError(missingText + path);
  return path;
}

// Each run's files are new: a name that is already taken fails the run.
void WriteJsonFile(const std::string& path, const TJson& value) {
  CreatePrivateTextFile(path, std::string(kUtf8Bom) + JsonToText(value.is_null() ? TJson::object() : value));
}

std::string OutputTail(const std::string& output) {
  std::string text = output.size() > kOutputLogLimit ? output.substr(output.size() - kOutputLogLimit) : output;
  return Trim(SanitizeUtf8(text));
}

// One script run; the result object comes back, every file of the run is
// gone afterwards whatever happened.
TJson RunScriptFiles(TEnv& env, const std::string& interpreter, const std::string& script, const TJson& config,
                     const TJson& payload, const std::string& mode, const TScriptTexts& texts) {
  const std::string folder = PrivateTempFolder(env, {texts.Folder});
  const std::string id = RandomAlphaNumeric(11);
  const std::string configPath = JoinPath(folder, "config_" + id + ".json");
  const std::string payloadPath = JoinPath(folder, "payload_" + id + ".json");
  const std::string resultPath = JoinPath(folder, "result_" + id + ".json");
  TScopeExit cleanup([&] {
    DeleteFileIfExists(configPath);
    DeleteFileIfExists(payloadPath);
    DeleteFileIfExists(resultPath);
  });
  WriteJsonFile(configPath, config);
  WriteJsonFile(payloadPath, payload);

  platform::ProcessRequest request;
  request.program = interpreter;
  request.arguments = {script, "-Mode", mode, "-ConfigPath", configPath, "-PayloadPath", payloadPath,
                       "-ResultPath", resultPath};
  request.captureOutput = true;
  platform::ProcessResult run = env.Processes().Run(request);
  if (!run.started) throw EAppError("PowerShell baslatilamadi: " + run.error);

  if (!FileExists(resultPath)) {
    if (!IsBlank(run.output)) LogWarnFmt("Backup script ciktisi (%s): %s", ExtractFileName(script), OutputTail(run.output));
    throw EAppError(Fmt(texts.NoResult, run.exitCode));
  }
  CheckPrivateFile(resultPath);
  TJson result;
  if (!TryParseJson(ReadTextFile(resultPath), result)) throw EAppError(texts.Unreadable);
  if (!result.is_object()) throw EConvertError("Backup script sonucu bir JSON nesnesi degil.");
  return result;
}

}  // namespace

std::string TCloudBackupService::ScriptInterpreter() const {
  std::string configured = Trim(platform::EnvOr("CALVORA_PYTHON", ""));
  return configured.empty() ? "python3" : configured;
}

std::string TCloudBackupService::SqlScriptPath() const {
  return ScriptFile(FEnv, "BackupDatabase.py", "SQL backup script dosyasi bulunamadi: ");
}

std::string TCloudBackupService::FirebirdScriptPath() const {
  return ScriptFile(FEnv, "BackupFirebird.py", "Firebird backup script dosyasi bulunamadi: ");
}

std::string TCloudBackupService::LockedFileScriptPath() const {
  return ScriptFile(FEnv, "CopyLockedFile.py", "Kilitli dosya kopyalama script dosyasi bulunamadi: ");
}

TJson TCloudBackupService::SqlScriptConfig() const {
  TJson config = TJson::object();
  config["server"] = FConfig.Server;
  config["userName"] = FConfig.UserName;
  config["password"] = FConfig.Password;
  config["backupOutputDir"] = Trim(FConfig.BackupOutputDir);
  return config;
}

TJson TCloudBackupService::FirebirdScriptConfig() const {
  TJson config = TJson::object();
  config["server"] = FFirebirdConfig.Server;
  config["port"] = FFirebirdConfig.Port;
  config["userName"] = FFirebirdConfig.UserName;
  config["password"] = FFirebirdConfig.Password;
  config["gbackPath"] = FFirebirdConfig.GBackPath;
  config["backupOutputDir"] = FFirebirdConfig.BackupOutputDir;
  return config;
}

bool TCloudBackupService::RunBackupScript(const std::string& ScriptPath, const TJson& Config, const TJson& Payload,
                                          const std::string& Mode, std::string& Message,
                                          std::string& BackupFilePath) {
  Message.clear();
  BackupFilePath.clear();
  FLastScriptData = nullptr;
  FLastScriptData = RunScriptFiles(FEnv, ScriptInterpreter(), ScriptPath, Config, Payload, Mode, kBackupRun);
  const bool success = JsonMemberBool(FLastScriptData, "success");
  Message = JsonMemberText(FLastScriptData, "message");
  BackupFilePath = JsonMemberText(FLastScriptData, "backupFilePath");
  if (!success && Message.empty()) Message = "Backup script basarisiz oldu.";
  return success;
}

bool TCloudBackupService::RunSqlScript(const std::string& Mode, const TJson& Payload, std::string& Message,
                                       std::string& BackupFilePath) {
  return RunBackupScript(SqlScriptPath(), SqlScriptConfig(), Payload, Mode, Message, BackupFilePath);
}

bool TCloudBackupService::RunFirebirdScript(const std::string& Mode, const TJson& Payload, std::string& Message,
                                            std::string& BackupFilePath) {
  return RunBackupScript(FirebirdScriptPath(), FirebirdScriptConfig(), Payload, Mode, Message, BackupFilePath);
}

bool TCloudBackupService::RunLockedFileScript(const TJson& Payload, std::string& Message,
                                              std::string& BackupFilePath) {
  return RunBackupScript(LockedFileScriptPath(), TJson::object(), Payload, "copy", Message, BackupFilePath);
}

TJson TCloudBackupService::RunListDatabasesScript() {
  return RunScriptFiles(FEnv, ScriptInterpreter(), SqlScriptPath(), SqlScriptConfig(), TJson::object(),
                        "listDatabases", kListRun);
}

std::string TCloudBackupService::LastScriptString(const std::string& Member) const {
  return JsonMemberText(FLastScriptData, Member);
}

bool TCloudBackupService::LastScriptBool(const std::string& Member) const {
  return JsonMemberBool(FLastScriptData, Member);
}

}  // namespace calvora
