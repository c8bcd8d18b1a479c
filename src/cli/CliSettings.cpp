// settings show|set, test-connection sql|firebird, service ...: the SQL
// Server and Firebird connection records of config.ini, the engine's
// connection tests and the service control of the settings window, with
// the window's texts.
#include "cli/CliCommands.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextUtil.h"
#include "service/uServiceManager.h"

namespace calvora::cli {
namespace {

TJson SqlJson(const TMSSQLBackupConfig& c) {
  return TJson{{"Enabled", c.Enabled}, {"Server", c.Server}, {"UserName", c.UserName},
               {"PasswordSet", !c.Password.empty()}, {"BackupOutputDir", c.BackupOutputDir}};
}

TJson FirebirdJson(const TFirebirdBackupConfig& c) {
  return TJson{{"Enabled", c.Enabled}, {"Server", c.Server}, {"Port", c.Port}, {"UserName", c.UserName},
               {"PasswordSet", !c.Password.empty()}, {"GBackPath", c.GBackPath},
               {"BackupOutputDir", c.BackupOutputDir}};
}

std::string PasswordText(const std::string& Password) { return Password.empty() ? "" : "********"; }

const std::vector<TOptionSpec> kSettingsOptions = {
    {"enabled", TOptionKind::Switch},   {"server", TOptionKind::Value},     {"user", TOptionKind::Value},
    {"backup-dir", TOptionKind::Value}, {"port", TOptionKind::Value},       {"gbak", TOptionKind::Value},
    {"password", TOptionKind::Flag},    {"password-stdin", TOptionKind::Flag}};

bool SwitchValue(const TCliArgs& Args, const std::string& Name, bool Current) {
  if (!Args.Has(Name)) return Current;
  bool value = false;
  if (!ParseBoolText(Args.Value(Name), value)) throw EUsageError("--" + Name + " icin true veya false bekleniyor.");
  return value;
}

bool WantsPassword(const TCliArgs& Args) { return Args.Has("password") || Args.Has("password-stdin"); }

}  // namespace

int SettingsShowCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 1, "settings show [sql|firebird]");
  const std::string which = args.Positional().empty() ? "" : LowerAscii(args.Positional()[0]);
  if (!which.empty() && which != "sql" && which != "firebird")
    throw EUsageError("Kullanim: calvoractl settings show [sql|firebird]");
  TAppConfig& config = Context.Env().Config();
  const TMSSQLBackupConfig sql = config.GetMSSQLBackupConfig();
  const TFirebirdBackupConfig fb = config.GetFirebirdBackupConfig();
  if (Context.Json) {
    TJson object = TJson::object();
    if (which != "firebird") object["MSSQLBackup"] = SqlJson(sql);
    if (which != "sql") object["FirebirdBackup"] = FirebirdJson(fb);
    PrintJson(Context, object);
    return kExitSuccess;
  }
  if (which != "firebird") {
    PrintLine(Context, "[SQL Backup]");
    PrintFields(Context, {{"Etkin", BoolText(sql.Enabled)},
                          {"Sunucu", sql.Server},
                          {"Kullanici", sql.UserName},
                          {"Sifre", PasswordText(sql.Password)},
                          {"Yedekleme Klasoru", sql.BackupOutputDir}});
  }
  if (which.empty()) PrintLine(Context, "");
  if (which != "sql") {
    PrintLine(Context, "[Firebird Backup]");
    PrintFields(Context, {{"Etkin", BoolText(fb.Enabled)},
                          {"Sunucu", fb.Server},
                          {"Port", std::to_string(fb.Port)},
                          {"Kullanici", fb.UserName},
                          {"Sifre", PasswordText(fb.Password)},
                          {"gbak Yolu", fb.GBackPath},
                          {"Yedekleme Klasoru", fb.BackupOutputDir}});
  }
  return kExitSuccess;
}

int SettingsSetCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, kSettingsOptions);
  RequirePositional(args, 1, 1, "settings set sql|firebird [--enabled[=false]] [--server S] [--user U] ...");
  const std::string which = LowerAscii(args.Positional()[0]);
  TAppConfig& config = Context.Env().Config();
  if (which == "sql") {
    if (args.Has("port") || args.Has("gbak")) throw EUsageError("--port ve --gbak yalnizca firebird icindir.");
    TMSSQLBackupConfig c = config.GetMSSQLBackupConfig();
    c.Enabled = SwitchValue(args, "enabled", c.Enabled);
    if (args.Has("server")) c.Server = Trim(args.Value("server"));
    if (args.Has("user")) c.UserName = Trim(args.Value("user"));
    if (args.Has("backup-dir")) c.BackupOutputDir = Trim(args.Value("backup-dir"));
    if (WantsPassword(args)) c.Password = ReadSecret(Context, args, "password-stdin", "SQL Server sifresi: ");
    config.SetMSSQLBackupConfig(c);
  } else if (which == "firebird") {
    TFirebirdBackupConfig c = config.GetFirebirdBackupConfig();
    c.Enabled = SwitchValue(args, "enabled", c.Enabled);
    // The window's reading of its tab: empty server and user take the
    // defaults, an unreadable port 3050.
    if (args.Has("server")) c.Server = Trim(args.Value("server"));
    if (args.Has("user")) c.UserName = Trim(args.Value("user"));
    if (args.Has("port") && !TryParseInt(Trim(args.Value("port")), c.Port)) c.Port = 3050;
    if (args.Has("gbak")) c.GBackPath = Trim(args.Value("gbak"));
    if (args.Has("backup-dir")) c.BackupOutputDir = Trim(args.Value("backup-dir"));
    if (c.Server.empty()) c.Server = "localhost";
    if (c.UserName.empty()) c.UserName = "SYSDBA";
    if (WantsPassword(args)) c.Password = ReadSecret(Context, args, "password-stdin", "Firebird sifresi: ");
    config.SetFirebirdBackupConfig(c);
  } else {
    throw EUsageError("Kullanim: calvoractl settings set sql|firebird ...");
  }
  if (Context.Json)
    PrintJson(Context, TJson{{"Message", "Ayarlar kaydedildi."}});
  else
    PrintLine(Context, "Ayarlar kaydedildi.");
  return kExitSuccess;
}

int TestConnectionCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "test-connection sql|firebird");
  const std::string which = LowerAscii(args.Positional()[0]);
  if (which != "sql" && which != "firebird") throw EUsageError("Kullanim: calvoractl test-connection sql|firebird");
  TEnv& env = Context.Env();
  TCloudBackupService engine(env.Config().GetMSSQLBackupConfig(), env);
  std::string text;
  const bool sql = which == "sql";
  const bool ok = sql ? engine.TestConnection(text) : engine.TestFirebirdConnection(text);
  const std::string message = sql ? (ok ? "Baglanti basarili: " : "Baglanti hatasi: ") + text
                                  : (ok ? "Firebird baglanti basarili: " : "Firebird baglanti hatasi: ") + text;
  if (Context.Json) {
    PrintJson(Context, TJson{{"Success", ok}, {"Message", message}});
    return ok ? kExitSuccess : kExitFailure;
  }
  if (!ok) throw ECliError(message);
  PrintLine(Context, message);
  return kExitSuccess;
}

int ServiceCommand(TCliContext& Context, const std::string& Operation, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 0, "service " + Operation);
  TEnv& env = Context.Env();
  std::string text;
  if (Operation == "status") {
    TServiceRunState state = srsUnknown;
    const bool ok = QueryBackupServiceState(env, state, text);
    if (Context.Json) {
      PrintJson(Context, TJson{{"Success", ok}, {"State", static_cast<int>(state)}, {"Text", ok ? text : "Hata: " + text},
                               {"Unit", GetServiceUnitPath()}, {"Program", GetServiceExePath(env)}});
      return ok ? kExitSuccess : kExitFailure;
    }
    if (!ok) throw ECliError("Hata: " + text);
    PrintFields(Context, {{"Servis Durumu", text}, {"Servis dosyasi", GetServiceExePath(env)}});
    return kExitSuccess;
  }
  struct TOperation {
    const char* Name;
    bool (*Run)(TEnv&, std::string&);
    const char* Done;
  };
  static const TOperation kOperations[] = {
      {"install", [](TEnv& e, std::string& t) { return InstallBackupService(e, t); }, "Servis kuruldu"},
      {"uninstall", [](TEnv& e, std::string& t) { return UninstallBackupService(e, t); }, "Servis kaldirildi"},
      {"start", [](TEnv& e, std::string& t) { return StartBackupService(e, t); }, "Servis baslatildi"},
      {"stop", [](TEnv& e, std::string& t) { return StopBackupService(e, t); }, "Servis durduruldu"},
  };
  for (const TOperation& op : kOperations) {
    if (Operation != op.Name) continue;
    const bool ok = op.Run(env, text);
    const std::string message = ok ? (text.empty() ? std::string(op.Done) + "." : std::string(op.Done) + ": " + text)
                                   : "Hata: " + text;
    if (Context.Json) {
      PrintJson(Context, TJson{{"Success", ok}, {"Message", message}});
      return ok ? kExitSuccess : kExitFailure;
    }
    if (!ok) throw ECliError(message);
    PrintLine(Context, message);
    return kExitSuccess;
  }
  throw EUsageError("Bilinmeyen servis islemi: " + Operation);
}

}  // namespace calvora::cli
