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

bool SameEvent(const TPlanActivityEvent& A, const TPlanActivityEvent& B) {
  return A.Timestamp == B.Timestamp && A.Title == B.Title && A.Details == B.Details;
}

// The events of this run not shown yet: those after the last one shown,
// or, when that has rolled off the record, those since the run began.
std::vector<TPlanActivityEvent> NewEvents(const TPlanActivitySnapshot& Activity, const TPlanActivityEvent* LastShown,
                                          TDateTime StartedAt) {
  const std::vector<TPlanActivityEvent>& events = Activity.RecentEvents;
  if (LastShown) {
    for (size_t i = events.size(); i-- > 0;)
      if (SameEvent(events[i], *LastShown)) return {events.begin() + static_cast<std::ptrdiff_t>(i) + 1, events.end()};
  }
  std::vector<TPlanActivityEvent> newer;
  for (const TPlanActivityEvent& event : events)
    if (event.Timestamp >= StartedAt) newer.push_back(event);
  return newer;
}

TPlanActivitySnapshot ReadActivity(TEnv& Env, const TBackupPlan& Plan) {
  TPlanActivitySnapshot activity;
  try {
    TryGetPlanActivity(Env, Plan.ID, activity);
  } catch (const std::exception&) {
    // Unreadable for a moment: the next look shows it.
  }
  return activity;
}

// The record keeps its times to the second.
TDateTime WholeSecond(TDateTime Value) {
  TDateTimeParts parts = DecodeDateTime(Value);
  parts.millisecond = 0;
  TDateTime whole = Value;
  return TryEncodeDateTime(parts, whole) ? whole : Value;
}

// Every stage the run reports, from the plan's activity record: each event
// of the run once, so a quick run shows its stages too.
class TStageFollower {
 public:
  TStageFollower(TEnv& Env, const TBackupPlan& Plan) : FEnv(Env), FPlan(Plan), FStartedAt(WholeSecond(Env.Now())) {
    const TPlanActivitySnapshot before = ReadActivity(Env, Plan);
    if (!before.RecentEvents.empty()) FLastShown = before.RecentEvents.back();
    FHaveLast = !before.RecentEvents.empty();
  }
  void Show(TProgressDisplay& Display) {
    const TPlanActivitySnapshot activity = ReadActivity(FEnv, FPlan);
    for (const TPlanActivityEvent& event : NewEvents(activity, FHaveLast ? &FLastShown : nullptr, FStartedAt)) {
      Display.Stage(event.Title, event.Details);
      FLastShown = event;
      FHaveLast = true;
    }
  }

 private:
  TEnv& FEnv;
  const TBackupPlan& FPlan;
  TDateTime FStartedAt;
  TPlanActivityEvent FLastShown;
  bool FHaveLast = false;
};

void ShowRunProgress(TCliContext& Context, TStageFollower& Stages, TRunShared& Shared) {
  TProgressDisplay& display = Shared.Display;
  bool stopAnnounced = false;
  while (!Shared.Finished) {
    if (platform::StopRequested() && !stopAnnounced) {
      stopAnnounced = true;
      display.Finish();
      PrintLine(Context, "Durduruluyor, calisan adim sonlaniyor...");
    }
    Stages.Show(display);
    display.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMs));
  }
  Stages.Show(display);
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
  TStageFollower stages(env, plan);
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
  ShowRunProgress(Context, stages, shared);
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
