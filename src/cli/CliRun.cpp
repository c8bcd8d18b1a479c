// run PLAN: the plan runs now through the plan runner, as the desktop's
// "Baslat" does, with its progress on the terminal. Ctrl-C asks the run to
// stop: the script or archiver the terminal's signal also reached ends, an
// upload stops at its next piece, and the runner records the run as failed
// with the stop in its message, so the plan and activity files stay whole.
#include "cli/CliCommands.h"
#include "cli/CliProgress.h"
#include "engine/uCloudBackup.h"
#include "foundation/AppError.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "plans/uPlanActivityStore.h"
#include "platform/stop_request.h"
#include "runner/uBackupPlanRunner.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace calvora::cli {
namespace {

constexpr const char kStoppedMessage[] = "Islem kullanici tarafindan durduruldu.";
constexpr int kRefreshMs = 200;

struct TRunShared {
  explicit TRunShared(TCliContext& Context) : Display(Context) {}
  TProgressDisplay Display;
  std::atomic<bool> Finished{false};
  bool Success = false;
  std::string Message;
  std::string Error;  // the plan file could not be read or written
};

// The engine of the desktop's run, whose uploads give way to a stop request.
TBackupPlanRunner::TBackupFunction StoppableBackup(TEnv& Env, TRunShared& Shared) {
  return [&Env, &Shared](TBackupPlan& Plan, const TUploadProgress&, std::string& BackupFile, std::string& Message) {
    TCloudBackupService engine(Env.Config().GetMSSQLBackupConfig(), Env);
    engine.SetOnUploadProgress([&Shared](std::int64_t Sent, std::int64_t Total) {
      Shared.Display.Transfer(Sent, Total);
      // Between two pieces of an upload; the engine ends the run there.
      if (platform::StopRequested()) throw EAppError(kStoppedMessage);
    });
    bool success = engine.BackupPlan(Plan, BackupFile, Message);
    if (platform::StopRequested()) {
      success = false;
      Message = Message.empty() || Message == kStoppedMessage ? kStoppedMessage
                                                              : std::string(kStoppedMessage) + " " + Message;
    }
    return success;
  };
}

void ShowRunProgress(TCliContext& Context, TEnv& Env, const TBackupPlan& Plan, TRunShared& Shared) {
  TProgressDisplay& display = Shared.Display;
  bool stopAnnounced = false;
  while (!Shared.Finished) {
    TPlanActivitySnapshot activity;
    try {
      TryGetPlanActivity(Env, Plan.ID, activity);
    } catch (const std::exception&) {
      // Being rewritten or unreadable for a moment: the next look shows it.
    }
    if (platform::StopRequested() && !stopAnnounced) {
      stopAnnounced = true;
      display.Finish();
      PrintLine(Context, "Durduruluyor, calisan adim sonlaniyor...");
    }
    if (activity.IsRunning) display.Stage(activity.CurrentStage, activity.LastMessage);
    display.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMs));
  }
  display.Finish();
}

}  // namespace

int RunCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "run PLAN");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);

  platform::ResetStopRequest();
  platform::InstallStopSignalHandlers();
  TRunShared shared(Context);
  TBackupPlanRunner runner(env, StoppableBackup(env, shared));
  if (!Context.Json) PrintLine(Context, "Manuel yedekleme baslatildi: " + plan.Name);
  std::thread worker([&] {
    try {
      shared.Success = runner.RunBackupPlanById(plan.ID, shared.Message);
    } catch (const std::exception& e) {
      LogException("Manuel yedekleme istisnasi", e);
      shared.Error = *e.what() ? e.what() : "Beklenmeyen hata";
    }
    shared.Finished = true;
  });
  ShowRunProgress(Context, env, plan, shared);
  worker.join();

  const bool stopped = platform::StopRequested();
  const std::string message = shared.Error.empty() ? shared.Message : shared.Error;
  if (Context.Json)
    PrintJson(Context, TJson{{"ID", plan.ID}, {"Name", plan.Name}, {"Success", shared.Success},
                             {"Stopped", stopped}, {"Message", message}});
  if (shared.Success) {
    if (!Context.Json) PrintLine(Context, message);
    return kExitSuccess;
  }
  if (Context.Json) return stopped ? kExitInterrupted : kExitFailure;
  Context.Console.Err(std::string(kProgramName) + ": Gorev calistirilamadi: " + message + "\n");
  return stopped ? kExitInterrupted : kExitFailure;
}

}  // namespace calvora::cli
