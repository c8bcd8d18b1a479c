// status [PLAN]: what the plan monitor shows, on standard output: the
// service state, each plan's state, last run, outcome and message, and for
// one plan the monitor's details and recent events.
#include "cli/CliCommands.h"
#include "cli/CliMonitor.h"
#include "foundation/Format.h"
#include "foundation/TextUtil.h"
#include "plans/uPlanActivityStore.h"
#include "service/uServiceManager.h"

#include <algorithm>

namespace calvora::cli {
namespace {

struct TServiceLine {
  bool Read = false;
  TServiceRunState State = srsUnknown;
  std::string Text;
};

TServiceLine ReadServiceLine(TEnv& Env) {
  TServiceLine line;
  std::string text;
  line.Read = QueryBackupServiceState(Env, line.State, text);
  line.Text = line.Read ? text : "Okunamadi";
  return line;
}

const TPlanActivitySnapshot* ActivityOf(const std::vector<TPlanActivitySnapshot>& Activities, const TBackupPlan& Plan) {
  const int index = FindPlanActivityIndex(Activities, Plan.ID);
  return index < 0 ? nullptr : &Activities[static_cast<size_t>(index)];
}

TJson PlanStatusJson(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity, bool HasRecord) {
  const TDateTime finish = LastFinishedAt(Plan, Activity);
  TJson events = TJson::array();
  for (auto it = Activity.RecentEvents.rbegin(); it != Activity.RecentEvents.rend(); ++it)
    events.push_back(TJson{{"Timestamp", FormatPlanDateTime(it->Timestamp)}, {"Title", it->Title},
                           {"Details", it->Details}});
  return TJson{{"ID", Plan.ID},
               {"Name", Plan.Name},
               {"State", PlanListState(Plan, HasRecord ? &Activity : nullptr)},
               {"IsRunning", Activity.IsRunning},
               {"Stage", Activity.CurrentStage},
               {"LastRunAt", finish > 0 ? FormatPlanDateTime(finish) : ""},
               {"LastStatus", Plan.LastStatus},
               {"Message", Activity.LastMessage.empty() ? Plan.LastMessage : Activity.LastMessage},
               {"Upload", UploadStatusText(Plan, Activity)},
               {"Events", events}};
}

}  // namespace

int StatusCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 1, "status [PLAN]");
  TEnv& env = Context.Env();
  const std::vector<TBackupPlan> plans = TBackupPlanStore(env).LoadPlans();
  std::vector<TPlanActivitySnapshot> activities;
  LoadPlanActivities(env, activities);
  const TServiceLine service = ReadServiceLine(env);
  const auto running = std::count_if(activities.begin(), activities.end(),
                                     [](const TPlanActivitySnapshot& a) { return a.IsRunning; });

  std::vector<TBackupPlan> shown = plans;
  if (!args.Positional().empty()) shown = {FindPlan(plans, args.Positional()[0])};

  if (Context.Json) {
    TJson list = TJson::array();
    for (const TBackupPlan& plan : shown) {
      const TPlanActivitySnapshot* record = ActivityOf(activities, plan);
      list.push_back(PlanStatusJson(plan, record ? *record : TPlanActivitySnapshot(), record != nullptr));
    }
    PrintJson(Context, TJson{{"Service", TJson{{"State", static_cast<int>(service.State)}, {"Text", service.Text},
                                               {"Read", service.Read}}},
                             {"RunningPlans", running},
                             {"Plans", list}});
    return kExitSuccess;
  }

  PrintLine(Context, "Servis: " + service.Text + Fmt(" (%d aktif gorev)", static_cast<int>(running)));
  if (!args.Positional().empty()) {
    const TBackupPlan& plan = shown.front();
    const TPlanActivitySnapshot* record = ActivityOf(activities, plan);
    const TPlanActivitySnapshot activity = record ? *record : TPlanActivitySnapshot();
    PrintLine(Context, "");
    PrintFields(Context, MonitorDetailRows(plan, activity, service.Text));
    if (!activity.RecentEvents.empty()) {
      PrintLine(Context, "");
      PrintLine(Context, "Son Hareketler:");
      std::vector<std::vector<std::string>> rows;
      for (auto it = activity.RecentEvents.rbegin(); it != activity.RecentEvents.rend(); ++it)
        rows.push_back({AbsoluteTimeText(it->Timestamp), it->Title, it->Details});
      PrintTable(Context, {"Saat", "Olay", "Detay"}, rows);
    }
    return kExitSuccess;
  }
  if (plans.empty()) {
    PrintLine(Context, "Kayitli plan yok.");
    return kExitSuccess;
  }
  PrintLine(Context, "");
  std::vector<std::vector<std::string>> rows;
  for (const TBackupPlan& plan : plans) {
    const TPlanActivitySnapshot* record = ActivityOf(activities, plan);
    const TPlanActivitySnapshot activity = record ? *record : TPlanActivitySnapshot();
    const std::string message = activity.LastMessage.empty() ? plan.LastMessage : activity.LastMessage;
    rows.push_back({plan.Name, PlanListState(plan, record), activity.IsRunning ? activity.CurrentStage : "-",
                    AbsoluteTimeText(LastFinishedAt(plan, activity)), plan.LastStatus.empty() ? "-" : plan.LastStatus,
                    message.empty() ? "-" : message});
  }
  PrintTable(Context, {"Plan", "Durum", "Asama", "Son Calisma", "Sonuc", "Mesaj"}, rows);
  return kExitSuccess;
}

}  // namespace calvora::cli
