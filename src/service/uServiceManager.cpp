#include "service/uServiceManager.h"

#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <exception>

namespace calvora {
namespace {

constexpr const char kUnitName[] = "CalvoraBackupService.service";

std::string UnitName() { return kUnitName; }

struct TSystemctlResult {
  bool ok = false;
  std::string output;  // trimmed stdout + stderr
  std::string error;   // the text an operation fails with
};

TSystemctlResult RunSystemctl(TEnv& Env, const std::vector<std::string>& Arguments) {
  platform::ProcessRequest request;
  request.program = SystemctlProgram();
  request.arguments = Arguments;
  request.captureOutput = true;
  const platform::ProcessResult run = Env.Processes().Run(request);
  TSystemctlResult result;
  result.output = Trim(run.output);
  if (!run.started) {
    result.error = run.error.empty() ? "systemctl baslatilamadi." : run.error;
    return result;
  }
  result.ok = run.exitCode == 0;
  if (!result.ok)
    result.error = !result.output.empty()
                       ? result.output
                       : Fmt("systemctl %s basarisiz (cikis kodu %d).", Arguments.empty() ? "" : Arguments[0],
                             run.exitCode);
  return result;
}

// systemd unit files treat "%" as a specifier and "\" and quotes as escapes.
std::string QuoteExecPath(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '%')
      out += "%%";
    else if (c == '\\' || c == '"')
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out + "\"";
}

// What the service can do without: the rest of the machine stays out of
// its reach. Left out on purpose: ProtectHome (work and source folders may
// lie in home folders), ProtectSystem=full or strict (the machine key is made
// in /etc/calvora, plans write to any folder the user chose), RestrictSUIDSGID
// (the shared data directory is set-group-ID) and system call or memory
// filters (gbak, sqlcmd, python and the archiver run as children).
std::string ServiceSandboxText(const std::string& ProgramDir) {
  std::string text;
  // Nobody else sees the service's /tmp: the script settings that carry
  // database passwords cannot be reached or planted from outside.
  text += "PrivateTmp=yes\n";
  // Neither the service nor any tool it starts gains rights through a
  // set-user-ID program.
  text += "NoNewPrivileges=yes\n";
  // /usr and /boot read-only; the program folder stays writable for the
  // self-update and the data directory beside the executables.
  text += "ProtectSystem=yes\n";
  text += "ReadWritePaths=" + QuoteExecPath(ProgramDir) + "\n";
  text += "ProtectKernelTunables=yes\n";
  text += "ProtectKernelModules=yes\n";
  text += "ProtectKernelLogs=yes\n";
  text += "ProtectControlGroups=yes\n";
  text += "ProtectClock=yes\n";
  text += "ProtectHostname=yes\n";
  text += "RestrictRealtime=yes\n";
  text += "LockPersonality=yes\n";
  return text;
}

}  // namespace

std::string ServiceRunStateText(TServiceRunState State) {
  switch (State) {
    case srsNotInstalled: return "Kurulu değil";
    case srsStopped: return "Durduruldu";
    case srsStartPending: return "Başlatılıyor";
    case srsStopPending: return "Durduruluyor";
    case srsRunning: return "Çalışıyor";
    default: return "Bilinmiyor";
  }
}

TServiceRunState ServiceRunStateFromUnit(const std::string& LoadState, const std::string& ActiveState) {
  // A unit removed while it runs keeps running (and is reported so) until
  // it stops; only then is it gone.
  const bool inactive = ActiveState.empty() || ActiveState == "inactive" || ActiveState == "failed";
  if (LoadState == "not-found" && inactive) return srsNotInstalled;
  if (inactive) return srsStopped;
  if (ActiveState == "activating") return srsStartPending;
  if (ActiveState == "deactivating") return srsStopPending;
  if (ActiveState == "active" || ActiveState == "reloading") return srsRunning;
  return srsUnknown;
}

std::string GetServiceExePath(const TEnv& Env) {
  return IncludeTrailingSeparator(Env.ProgramDir()) + kServiceExeName;
}

std::string GetServiceUnitPath() {
  std::string dir = platform::EnvOr("CALVORA_SYSTEMD_UNIT_DIR", "");
  if (dir.empty()) dir = "/etc/systemd/system";
  return JoinPath(dir, UnitName());
}

std::string SystemctlProgram() {
  std::string program = platform::EnvOr("CALVORA_SYSTEMCTL", "");
  return program.empty() ? std::string("systemctl") : program;
}

std::string BuildServiceUnitText(const std::string& ExePath, const std::string& DisplayName) {
  std::string text;
  text += "[Unit]\n";
  text += "Description=" + DisplayName + "\n";
  text += "Wants=network-online.target\n";
  text += "After=network-online.target\n";
  text += "\n[Service]\n";
  text += "Type=simple\n";
  text += "ExecStart=" + QuoteExecPath(ExePath) + "\n";
  text += "WorkingDirectory=" + ExtractFileDir(ExePath) + "\n";
  // The restart after a self-update runs as a detached child of the
  // service: stopping the unit must end only the main process, or the
  // command that starts it again would die with it.
  text += "KillMode=process\n";
  // A stop waits for the running backup to finish its tick.
  text += "TimeoutStopSec=15min\n";
  text += ServiceSandboxText(ExtractFileDir(ExePath));
  text += "\n[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return text;
}

bool InstallBackupService(TEnv& Env, std::string& ErrorText, const std::string& DisplayName) {
  ErrorText.clear();
  const std::string exePath = GetServiceExePath(Env);
  if (!FileExists(exePath)) {
    ErrorText = "Servis exe bulunamadı: " + exePath;
    return false;
  }
  const std::string unitPath = GetServiceUnitPath();
  if (FileExists(unitPath)) {
    ErrorText = "Unit file " + unitPath + " already exists.";
    return false;
  }
  try {
    ForceDirectories(ExtractFileDir(unitPath));
    WriteTextFile(unitPath, BuildServiceUnitText(exePath, DisplayName), false);
  } catch (const std::exception& e) {
    ErrorText = e.what();
    return false;
  }
  auto reload = RunSystemctl(Env, {"daemon-reload"});
  auto enable = reload.ok ? RunSystemctl(Env, {"enable", UnitName()}) : reload;
  if (!enable.ok) {
    ErrorText = enable.error;
    DeleteFileIfExists(unitPath);
    RunSystemctl(Env, {"daemon-reload"});
    return false;
  }
  return true;
}

bool UninstallBackupService(TEnv& Env, std::string& ErrorText) {
  ErrorText.clear();
  // The unit is not stopped first: a running service goes on until it stops.
  auto disable = RunSystemctl(Env, {"disable", UnitName()});
  if (!disable.ok) {
    ErrorText = disable.error;
    return false;
  }
  const std::string unitPath = GetServiceUnitPath();
  if (FileExists(unitPath) && !DeleteFileIfExists(unitPath)) {
    ErrorText = "Unit file " + unitPath + " could not be removed.";
    return false;
  }
  auto reload = RunSystemctl(Env, {"daemon-reload"});
  if (!reload.ok) {
    ErrorText = reload.error;
    return false;
  }
  return true;
}

bool StartBackupService(TEnv& Env, std::string& ErrorText) {
  auto run = RunSystemctl(Env, {"start", "--no-block", UnitName()});
  ErrorText = run.ok ? std::string() : run.error;
  return run.ok;
}

bool StopBackupService(TEnv& Env, std::string& ErrorText) {
  auto run = RunSystemctl(Env, {"stop", "--no-block", UnitName()});
  ErrorText = run.ok ? std::string() : run.error;
  return run.ok;
}

bool QueryBackupServiceState(TEnv& Env, TServiceRunState& State, std::string& Text) {
  State = srsUnknown;
  Text = ServiceRunStateText(srsUnknown);
  auto run = RunSystemctl(Env, {"show", "-p", "LoadState,ActiveState", UnitName()});
  if (!run.ok) {
    Text = run.error;
    return false;
  }
  std::string loadState, activeState;
  for (const std::string& rawLine : Split(ReplaceAll(run.output, "\r", ""), '\n')) {
    const std::string line = Trim(rawLine);
    if (StartsWith(line, "LoadState=")) loadState = Trim(line.substr(10));
    if (StartsWith(line, "ActiveState=")) activeState = Trim(line.substr(12));
  }
  if (loadState.empty() && activeState.empty()) {
    Text = run.output.empty() ? std::string("systemctl show: bos yanit.") : run.output;
    return false;
  }
  State = ServiceRunStateFromUnit(loadState, activeState);
  Text = ServiceRunStateText(State);
  return true;
}

bool RunServiceOperation(TEnv& Env, const std::string& OperationName, std::string& ErrorText) {
  if (SameText(OperationName, "install")) return InstallBackupService(Env, ErrorText);
  if (SameText(OperationName, "uninstall")) return UninstallBackupService(Env, ErrorText);
  if (SameText(OperationName, "start")) return StartBackupService(Env, ErrorText);
  if (SameText(OperationName, "stop")) return StopBackupService(Env, ErrorText);
  ErrorText = "Bilinmeyen servis islemi: " + OperationName;
  return false;
}

std::string ServiceOperationFromArguments(const std::vector<std::string>& Arguments) {
  for (size_t i = 0; i + 1 < Arguments.size(); ++i)
    if (SameText(Arguments[i], "--service-op")) return Trim(Arguments[i + 1]);
  return std::string();
}

bool HandleServiceOperationCommandLine(TEnv& Env, const std::vector<std::string>& Arguments,
                                       std::string& MessageText, bool& Success, int& ExitCode) {
  const std::string name = ServiceOperationFromArguments(Arguments);
  if (name.empty()) return false;
  std::string error;
  Success = RunServiceOperation(Env, name, error);
  if (Success)
    MessageText = "Servis islemi tamamlandi.";
  else
    MessageText = error.empty() ? std::string("Servis islemi tamamlanamadi.") : error;
  ExitCode = Success ? 0 : 1;
  return true;
}

}  // namespace calvora
