#pragma once
// Control of the backup service through the system's service manager
// (systemd): register, remove, start, stop and query the unit
// "CalvoraBackupService.service", and the control program's "--service-op"
// command line. Every operation returns a success flag and one text: the
// error text on failure (systemctl's own message), the state text for the
// query. Nothing is kept between calls.
#include "foundation/Env.h"

#include <string>
#include <vector>

namespace calvora {

inline constexpr const char kBackupServiceName[] = "CalvoraBackupService";
// The name the service manager shows for a unit registered by the control
// program; the service program registers itself under its own name.
inline constexpr const char kBackupServiceDisplayName[] = "Brimora Service";
inline constexpr const char kServiceExeName[] = "CalvoraService";

enum TServiceRunState {
  srsNotInstalled = 0,
  srsStopped = 1,
  srsStartPending = 2,
  srsStopPending = 3,
  srsRunning = 4,
  srsUnknown = 5,
};

// "Kurulu değil", "Durduruldu", "Başlatılıyor", "Durduruluyor", "Çalışıyor",
// "Bilinmiyor".
std::string ServiceRunStateText(TServiceRunState State);
// The state for systemd's LoadState and ActiveState values.
TServiceRunState ServiceRunStateFromUnit(const std::string& LoadState, const std::string& ActiveState);

// The service program beside the running program.
std::string GetServiceExePath(const TEnv& Env);
// $CALVORA_SYSTEMD_UNIT_DIR (or /etc/systemd/system) + "/CalvoraBackupService.service".
std::string GetServiceUnitPath();
// $CALVORA_SYSTEMCTL, or "systemctl" looked up on PATH.
std::string SystemctlProgram();
// The unit file text for the service program at `ExePath`.
std::string BuildServiceUnitText(const std::string& ExePath, const std::string& DisplayName);

bool InstallBackupService(TEnv& Env, std::string& ErrorText,
                          const std::string& DisplayName = kBackupServiceDisplayName);
bool UninstallBackupService(TEnv& Env, std::string& ErrorText);
// Both return as soon as the request is accepted, without waiting for the
// new state.
bool StartBackupService(TEnv& Env, std::string& ErrorText);
bool StopBackupService(TEnv& Env, std::string& ErrorText);
// The state with its text; srsUnknown, "Bilinmiyor" and false when the
// query fails (Text then holds the error).
bool QueryBackupServiceState(TEnv& Env, TServiceRunState& State, std::string& Text);

// "install", "uninstall", "start" or "stop" in any case.
bool RunServiceOperation(TEnv& Env, const std::string& OperationName, std::string& ErrorText);

// The operation name that follows the first "--service-op" (any case) among
// the arguments (without the program name), trimmed; empty when there is
// none or the option is the last argument.
std::string ServiceOperationFromArguments(const std::vector<std::string>& Arguments);
// False when the arguments ask for no operation. Otherwise runs it and
// returns true with the text to show, whether it succeeded, and the exit
// code the program ends with (0 or 1).
bool HandleServiceOperationCommandLine(TEnv& Env, const std::vector<std::string>& Arguments,
                                       std::string& MessageText, bool& Success, int& ExitCode);

}  // namespace calvora
