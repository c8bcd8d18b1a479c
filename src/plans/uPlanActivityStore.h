#pragma once
// The live status record of every plan ("planactivity.json" in the data
// folder, protected): running or not, current stage, last message, the file
// being worked on, start/finish/success times and the last 18 events. The
// runner opens and closes a run, the engine reports each stage, the desktop
// reads it. Every operation reads the whole file and writes it back;
// nothing is kept in memory between calls.
//
// Read, write and protection errors are not caught here: they reach the
// caller as EAppError.
#include "foundation/DateTime.h"
#include "plans/uBackupPlans.h"

#include <mutex>
#include <string>
#include <vector>

namespace calvora {

class TEnv;

struct TPlanActivityEvent {
  TDateTime Timestamp = 0;
  std::string Title;
  std::string Details;
};

struct TPlanActivitySnapshot {
  std::string PlanID;        // compared ignoring case
  std::string PlanName;
  std::string DatabaseName;  // PlanSourceText of the plan
  bool IsRunning = false;
  std::string CurrentStage;
  std::string CurrentState;  // "running", "success" or "failed"
  TDateTime LastStartedAt = 0;
  TDateTime LastUpdatedAt = 0;
  TDateTime LastCompletedAt = 0;
  TDateTime LastSuccessAt = 0;
  std::string LastMessage;
  std::string ActiveFile;
  std::string LastBackupFile;
  bool UploadCompleted = false;
  std::vector<TPlanActivityEvent> RecentEvents;  // oldest first, at most 18
};

constexpr size_t kMaxPlanActivityEvents = 18;

// The lock that makes one load-change-save of the store atomic within a
// process (one per TEnv; the programs have one TEnv).
std::mutex& PlanActivityLock(const TEnv& Env);

std::string GetPlanActivityFilePath(const TEnv& Env);
// The records as stored; empty when there is no file. A plain (older) file
// is rewritten protected; a file whose envelope does not open is moved aside
// to "planactivity.json.corrupt"; text that is not a JSON array reads empty.
void LoadPlanActivities(const TEnv& Env, std::vector<TPlanActivitySnapshot>& List);
// Replaces the file atomically.
void SavePlanActivities(const TEnv& Env, const std::vector<TPlanActivitySnapshot>& List);
// Index of the first record whose PlanID equals `PlanID` ignoring case; -1.
int FindPlanActivityIndex(const std::vector<TPlanActivitySnapshot>& List, const std::string& PlanID);
// False and an all-empty record when the plan has none.
bool TryGetPlanActivity(const TEnv& Env, const std::string& PlanID, TPlanActivitySnapshot& Snapshot);
// Replaces the record with the same PlanID or appends it, under the lock.
void SavePlanActivity(const TEnv& Env, const TPlanActivitySnapshot& Snapshot);
// Adds an event stamped now, dropping the oldest beyond 18.
void AppendPlanActivityEvent(const TEnv& Env, TPlanActivitySnapshot& Snapshot, const std::string& Title,
                             const std::string& Details);

// The three run updates: read the plan's record, refresh its name and
// source, change the run fields, add one event, store it.
void MarkPlanRunStarted(const TEnv& Env, const TBackupPlan& Plan);
void ReportPlanRunProgress(const TEnv& Env, const TBackupPlan& Plan, const std::string& StageTitle,
                           const std::string& Message, bool UploadCompleted, const std::string& ActiveFile);
void MarkPlanRunFinished(const TEnv& Env, const TBackupPlan& Plan, bool Success, const std::string& Message,
                         bool UploadCompleted, const std::string& BackupFile);

}  // namespace calvora
