#include "service/uBackupServiceMain.h"

#include "account/uFirebaseServiceStatus.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "foundation/AppError.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/stop_request.h"
#include "runner/uBackupPlanRunner.h"
#include "service/uAppUpdater.h"
#include "service/uServiceManager.h"

#include <cstdio>
#include <exception>

namespace calvora {

TCalvoraBackupService::TCalvoraBackupService(TEnv& Env) : TCalvoraBackupService(Env, TOperations()) {}

TCalvoraBackupService::TCalvoraBackupService(TEnv& Env, TOperations Operations)
    : FEnv(Env), FOperations(std::move(Operations)) {
  if (!FOperations.RunDuePlans)
    FOperations.RunDuePlans = [this](TDateTime startedAt) { return RunDuePlans(FEnv, startedAt); };
  if (!FOperations.RefreshSavedSignIn)
    FOperations.RefreshSavedSignIn = [this](std::string& message, std::string& loginName) {
      return RefreshSavedSignIn(FEnv, message, loginName);
    };
  if (!FOperations.RunUpdateCheck)
    FOperations.RunUpdateCheck = [this] {
      RunServiceUpdateCheck(FEnv, [this] { SendHeartbeat(true, kServiceStatusUpdating); });
    };
  // By default the waits go through the environment's clock.
  if (!FOperations.WaitBetweenTicks)
    FOperations.WaitBetweenTicks = [this](std::int64_t ms) {
      FEnv.Clock().SleepMs(ms);
      return platform::StopRequested();
    };
  if (!FOperations.StopRequested) FOperations.StopRequested = [] { return platform::StopRequested(); };
  ServiceCreate();
}

void TCalvoraBackupService::ServiceCreate() {
  FName = kBackupServiceName;
  FDisplayName = kServiceComponentDisplayName;
}

void TCalvoraBackupService::ServiceStart() {
  FStopped = false;
  FLastHeartbeatAt = 0;
  FLastSignInRefreshAt = 0;
  FStartedAt = FEnv.Now();
  InitLog(FEnv.DataDir(), FEnv.Clock());
  LogInfoFmt("Windows service basladi (v%s)", GetCurrentVersionText());
  CleanupOldExecutables(FEnv.ProgramDir());
  SendHeartbeat(true, kServiceStatusRunning);
}

void TCalvoraBackupService::ServiceStop() {
  FStopped = true;
  LogInfo("Windows service durduruluyor");
  SendHeartbeat(true, kServiceStatusStopped);
}

void TCalvoraBackupService::ServiceExecute(int MaxTicks) {
  int ticks = 0;
  while (!FStopped) {
    // The waiting control request: a stop that came during the last tick.
    if (FOperations.StopRequested()) {
      FStopped = true;
      break;
    }
    RunTick();
    if (MaxTicks > 0 && ++ticks >= MaxTicks) break;
    if (FOperations.WaitBetweenTicks(kServiceTickMs)) FStopped = true;
  }
}

void TCalvoraBackupService::RunTick() {
  try {
    DailySignInRefresh();
    SendHeartbeat(false, kServiceStatusRunning);
    FOperations.RunDuePlans(FStartedAt);
    FOperations.RunUpdateCheck();
  } catch (const std::exception& e) {
    LogException("Service scheduler hatasi", e);
  }
}

void TCalvoraBackupService::SendHeartbeat(bool Force, const std::string& Status) {
  const TDateTime now = FEnv.Now();
  if (!Force && FLastHeartbeatAt > 0 && MinutesBetween(FLastHeartbeatAt, now) < 60) return;
  std::string error;
  if (ReportServiceHeartbeat(FEnv, Status, error, now, FStartedAt))
    FLastHeartbeatAt = now;
  else
    LogWarnFmt("Servis heartbeat Firebase'e yazilamadi: %s", error);
}

void TCalvoraBackupService::DailySignInRefresh() {
  const TDateTime now = FEnv.Now();
  if (FLastSignInRefreshAt > 0 && DateOf(FLastSignInRefreshAt) == DateOf(now)) return;
  if (FSignInRetryAt > 0 && now < FSignInRetryAt) return;
  // Set first, so a re-check that raises is not repeated at every tick.
  FSignInRetryAt = IncMinutes(now, kSignInRetryMinutes);
  std::string message, loginName;
  const TSavedSignInCheck check = FOperations.RefreshSavedSignIn(message, loginName);
  if (check == TSavedSignInCheck::Unreachable) {
    // Not an answer about the sign-in: asked again soon, not tomorrow.
    LogWarnFmt("Kayitli oturum gunluk kontrolu yapilamadi, %d dk sonra yeniden denenecek: %s", kSignInRetryMinutes,
               message);
    return;
  }
  // A definite answer, valid or not, settles the day.
  FLastSignInRefreshAt = now;
  FSignInRetryAt = 0;
  if (check == TSavedSignInCheck::Valid)
    LogInfoFmt("Kayitli oturum gunluk kontrolu basarili: %s", loginName);
  else
    LogWarnFmt("Kayitli oturum gunluk kontrolu basarisiz: %s", message);
}

int RunServiceProgram(TEnv& Env, const std::vector<std::string>& Arguments) {
  bool runOnce = false;
  bool logToStandardError = false;
  for (const std::string& argument : Arguments) {
    if (SameText(argument, "--version")) {
      std::printf("%s\n", GetCurrentVersionText().c_str());
      return 0;
    }
    if (SameText(argument, "--install") || SameText(argument, "--uninstall")) {
      std::string error;
      const bool ok = SameText(argument, "--install")
                          ? InstallBackupService(Env, error, kServiceComponentDisplayName)
                          : UninstallBackupService(Env, error);
      std::printf("%s\n", ok ? "Servis islemi tamamlandi." : error.c_str());
      return ok ? 0 : 1;
    }
    if (SameText(argument, "--run-once")) {
      runOnce = true;
      continue;
    }
    if (SameText(argument, "--log-stderr")) {
      logToStandardError = true;
      continue;
    }
    std::fprintf(stderr, "Bilinmeyen parametre: %s\n", argument.c_str());
    std::fprintf(stderr,
                 "Kullanim: CalvoraService [--run-once] [--log-stderr] | --install | --uninstall | --version\n");
    return 2;
  }

  // Under systemd the journal gets every line as well.
  SetLogEcho(LogEchoForProcess(logToStandardError));

  platform::InstallStopSignalHandlers();
  TCalvoraBackupService::TOperations operations;
  operations.WaitBetweenTicks = [](std::int64_t ms) { return platform::WaitForStopRequest(ms); };
  TCalvoraBackupService service(Env, std::move(operations));
  service.ServiceStart();
  service.ServiceExecute(runOnce ? 1 : 0);
  service.ServiceStop();
  FinalizeLog();
  return 0;
}

}  // namespace calvora
