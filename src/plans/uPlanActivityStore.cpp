#include "plans/uPlanActivityStore.h"

#include "foundation/AppError.h"
#include "foundation/Env.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uSecureString.h"

namespace calvora {
namespace {

struct TPlanActivityLockHolder {
  std::mutex Lock;
};

std::string DateText(TDateTime value) { return value > 0 ? FormatDateTime(value) : std::string(); }

TDateTime ReadDate(const TJson& object, const char* key) {
  const std::string text = Trim(JsonMemberText(object, key));
  TDateTime value = 0;
  if (text.empty()) return 0;
  // Only moments after the zero of the day count can be written back.
  if ((TryParseDateTime(text, value) || TryParseRegionalDateTime(text, value)) && value > 0) return value;
  return 0;
}

TJson EventToJson(const TPlanActivityEvent& e) {
  TJson o = TJson::object();
  o["Timestamp"] = DateText(e.Timestamp);
  o["Title"] = e.Title;
  o["Details"] = e.Details;
  return o;
}

TJson SnapshotToJson(const TPlanActivitySnapshot& s) {
  TJson o = TJson::object();
  o["PlanID"] = s.PlanID;
  o["PlanName"] = s.PlanName;
  o["DatabaseName"] = s.DatabaseName;
  o["IsRunning"] = s.IsRunning;
  o["CurrentStage"] = s.CurrentStage;
  o["CurrentState"] = s.CurrentState;
  o["LastStartedAt"] = DateText(s.LastStartedAt);
  o["LastUpdatedAt"] = DateText(s.LastUpdatedAt);
  o["LastCompletedAt"] = DateText(s.LastCompletedAt);
  o["LastSuccessAt"] = DateText(s.LastSuccessAt);
  o["LastMessage"] = s.LastMessage;
  o["ActiveFile"] = s.ActiveFile;
  o["LastBackupFile"] = s.LastBackupFile;
  o["UploadCompleted"] = s.UploadCompleted;
  TJson events = TJson::array();
  for (const auto& e : s.RecentEvents) events.push_back(EventToJson(e));
  o["RecentEvents"] = std::move(events);
  return o;
}

TPlanActivitySnapshot SnapshotFromJson(const TJson& o) {
  TPlanActivitySnapshot s;
  s.PlanID = JsonMemberText(o, "PlanID");
  s.PlanName = JsonMemberText(o, "PlanName");
  s.DatabaseName = JsonMemberText(o, "DatabaseName");
  s.IsRunning = JsonMemberBool(o, "IsRunning");
  s.CurrentStage = JsonMemberText(o, "CurrentStage");
  s.CurrentState = JsonMemberText(o, "CurrentState");
  s.LastStartedAt = ReadDate(o, "LastStartedAt");
  s.LastUpdatedAt = ReadDate(o, "LastUpdatedAt");
  s.LastCompletedAt = ReadDate(o, "LastCompletedAt");
  s.LastSuccessAt = ReadDate(o, "LastSuccessAt");
  s.LastMessage = JsonMemberText(o, "LastMessage");
  s.ActiveFile = JsonMemberText(o, "ActiveFile");
  s.LastBackupFile = JsonMemberText(o, "LastBackupFile");
  s.UploadCompleted = JsonMemberBool(o, "UploadCompleted");
  auto events = o.find("RecentEvents");
  if (events != o.end() && events->is_array()) {
    for (const TJson& e : *events)
      s.RecentEvents.push_back({ReadDate(e, "Timestamp"), JsonMemberText(e, "Title"), JsonMemberText(e, "Details")});
  }
  return s;
}

// The record of the plan as stored, with the plan's identity refreshed.
TPlanActivitySnapshot CurrentRecord(const TEnv& env, const TBackupPlan& plan) {
  TPlanActivitySnapshot s;
  TryGetPlanActivity(env, plan.ID, s);
  s.PlanID = plan.ID;
  s.PlanName = plan.Name;
  s.DatabaseName = PlanSourceText(plan);
  return s;
}

}  // namespace

std::mutex& PlanActivityLock(const TEnv& Env) { return Env.Shared<TPlanActivityLockHolder>().Lock; }

std::string GetPlanActivityFilePath(const TEnv& Env) {
  return IncludeTrailingSeparator(Env.DataDir()) + "planactivity.json";
}

void LoadPlanActivities(const TEnv& Env, std::vector<TPlanActivitySnapshot>& List) {
  List.clear();
  std::string json;
  if (!ReadProtectedTextFile(GetPlanActivityFilePath(Env), json)) return;
  TJson root;
  if (!TryParseJson(json, root) || !root.is_array()) return;
  for (const TJson& item : root) {
    // An element that is not an object carries no record.
    if (item.is_object()) List.push_back(SnapshotFromJson(item));
  }
}

void SavePlanActivities(const TEnv& Env, const std::vector<TPlanActivitySnapshot>& List) {
  TJson root = TJson::array();
  for (const auto& s : List) root.push_back(SnapshotToJson(s));
  WriteProtectedTextFile(GetPlanActivityFilePath(Env), JsonToText(root));
}

int FindPlanActivityIndex(const std::vector<TPlanActivitySnapshot>& List, const std::string& PlanID) {
  for (size_t i = 0; i < List.size(); ++i)
    if (SameText(List[i].PlanID, PlanID)) return static_cast<int>(i);
  return -1;
}

bool TryGetPlanActivity(const TEnv& Env, const std::string& PlanID, TPlanActivitySnapshot& Snapshot) {
  Snapshot = TPlanActivitySnapshot();
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(Env, list);
  int index = FindPlanActivityIndex(list, PlanID);
  if (index < 0) return false;
  Snapshot = std::move(list[static_cast<size_t>(index)]);
  return true;
}

void SavePlanActivity(const TEnv& Env, const TPlanActivitySnapshot& Snapshot) {
  std::lock_guard<std::mutex> guard(PlanActivityLock(Env));
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(Env, list);
  int index = FindPlanActivityIndex(list, Snapshot.PlanID);
  if (index >= 0)
    list[static_cast<size_t>(index)] = Snapshot;
  else
    list.push_back(Snapshot);
  SavePlanActivities(Env, list);
}

void AppendPlanActivityEvent(const TEnv& Env, TPlanActivitySnapshot& Snapshot, const std::string& Title,
                             const std::string& Details) {
  auto& events = Snapshot.RecentEvents;
  // A record read from a file that holds more than the limit is brought
  // back to it here as well.
  if (events.size() >= kMaxPlanActivityEvents)
    events.erase(events.begin(), events.end() - static_cast<long>(kMaxPlanActivityEvents - 1));
  events.push_back({Env.Now(), Title, Details});
}

void MarkPlanRunStarted(const TEnv& Env, const TBackupPlan& Plan) {
  TPlanActivitySnapshot s = CurrentRecord(Env, Plan);
  const TDateTime now = Env.Now();
  s.IsRunning = true;
  s.CurrentStage = "Hazirlaniyor";
  s.CurrentState = "running";
  s.LastStartedAt = now;
  s.LastUpdatedAt = now;
  s.LastMessage = "Plan calistirildi.";
  s.ActiveFile.clear();
  s.UploadCompleted = false;
  AppendPlanActivityEvent(Env, s, "Plan Basladi", "Plan calistirildi.");
  SavePlanActivity(Env, s);
}

void ReportPlanRunProgress(const TEnv& Env, const TBackupPlan& Plan, const std::string& StageTitle,
                           const std::string& Message, bool UploadCompleted, const std::string& ActiveFile) {
  TPlanActivitySnapshot s = CurrentRecord(Env, Plan);
  const TDateTime now = Env.Now();
  s.IsRunning = true;
  s.CurrentStage = StageTitle;
  s.CurrentState = "running";
  if (s.LastStartedAt == 0) s.LastStartedAt = now;
  s.LastUpdatedAt = now;
  s.LastMessage = Message;
  s.ActiveFile = ActiveFile;
  s.UploadCompleted = s.UploadCompleted || UploadCompleted;
  AppendPlanActivityEvent(Env, s, StageTitle, Message.empty() && !ActiveFile.empty() ? ActiveFile : Message);
  SavePlanActivity(Env, s);
}

void MarkPlanRunFinished(const TEnv& Env, const TBackupPlan& Plan, bool Success, const std::string& Message,
                         bool UploadCompleted, const std::string& BackupFile) {
  TPlanActivitySnapshot s = CurrentRecord(Env, Plan);
  const TDateTime now = Env.Now();
  s.IsRunning = false;
  s.CurrentStage = Success ? "Tamamlandi" : "Hata";
  s.CurrentState = Success ? "success" : "failed";
  if (s.LastStartedAt == 0) s.LastStartedAt = now;
  s.LastUpdatedAt = now;
  s.LastCompletedAt = now;
  if (Success) s.LastSuccessAt = now;
  s.LastMessage = Message;
  s.ActiveFile = BackupFile;
  s.LastBackupFile = BackupFile;
  s.UploadCompleted = UploadCompleted;
  AppendPlanActivityEvent(Env, s, s.CurrentStage, Message);
  SavePlanActivity(Env, s);
}

}  // namespace calvora
