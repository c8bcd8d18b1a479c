#pragma once
// The service host: the component the service manager runs. Its loop wakes
// every 30 seconds to re-check the saved sign-in once a day, report that
// the service is alive (at most once an hour), run the due plans and check
// for a new version once a day. A stop request ends the loop after the
// current tick.
#include "accountdrive/uFirebaseAccountAuth.h"
#include "foundation/DateTime.h"
#include "foundation/Env.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace calvora {

inline constexpr const char kServiceComponentDisplayName[] = "Orvane Bulut Yedekleme Servisi";
inline constexpr std::int64_t kServiceTickMs = 30000;
// A daily sign-in re-check that could not reach the directory is tried
// again after this long instead of the next day.
inline constexpr int kSignInRetryMinutes = 15;

class TCalvoraBackupService {
 public:
  // The operations the loop drives; each defaults to the system's own.
  struct TOperations {
    std::function<int(TDateTime ServiceStartedAt)> RunDuePlans;
    std::function<TSavedSignInCheck(std::string& Message, std::string& LoginName)> RefreshSavedSignIn;
    std::function<void()> RunUpdateCheck;
    // Waits between ticks; true when a stop was requested meanwhile.
    std::function<bool(std::int64_t Ms)> WaitBetweenTicks;
    // True when a stop request is waiting (checked at the start of a tick).
    std::function<bool()> StopRequested;
  };

  explicit TCalvoraBackupService(TEnv& Env);
  TCalvoraBackupService(TEnv& Env, TOperations Operations);

  // Framework events.
  void ServiceCreate();
  void ServiceStart();
  void ServiceStop();
  // The main loop; MaxTicks > 0 ends it after that many ticks.
  void ServiceExecute(int MaxTicks = 0);

  // One tick of the loop under its error handler.
  void RunTick();
  void SendHeartbeat(bool Force, const std::string& Status);
  void DailySignInRefresh();
  void RequestStop() { FStopped = true; }

  const std::string& Name() const { return FName; }
  const std::string& DisplayName() const { return FDisplayName; }
  TDateTime StartedAt() const { return FStartedAt; }
  bool Stopped() const { return FStopped; }
  TDateTime LastHeartbeatAt() const { return FLastHeartbeatAt; }
  TDateTime LastSignInRefreshAt() const { return FLastSignInRefreshAt; }

 private:
  TEnv& FEnv;
  TOperations FOperations;
  std::string FName;
  std::string FDisplayName;
  TDateTime FStartedAt = 0;
  bool FStopped = false;
  TDateTime FLastHeartbeatAt = 0;
  TDateTime FLastSignInRefreshAt = 0;
  // After a re-check that could not reach the directory, the next try.
  TDateTime FSignInRetryAt = 0;
};

// The service program: runs in the foreground until SIGTERM or SIGINT.
// "--run-once": one tick, then the stop sequence. "--install" /
// "--uninstall" register or remove the service; "--version" prints the
// program's version. Log lines also go to standard error under systemd
// (into the journal) or with "--log-stderr". Returns the exit code.
int RunServiceProgram(TEnv& Env, const std::vector<std::string>& Arguments);

}  // namespace calvora
