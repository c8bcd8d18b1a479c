// The activity file reader on any file: it fails only with the system's own
// errors, and what a load gives is exactly what the next save keeps.
#include "FuzzSupport.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "plans/uPlanActivityStore.h"

#include <cstdio>

namespace {

std::string Moment(calvora::TDateTime value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string Fields(const std::vector<calvora::TPlanActivitySnapshot>& list) {
  std::string out;
  for (const auto& s : list) {
    for (const std::string& value :
         {s.PlanID, s.PlanName, s.DatabaseName, std::to_string(s.IsRunning), s.CurrentStage, s.CurrentState,
          Moment(s.LastStartedAt), Moment(s.LastUpdatedAt), Moment(s.LastCompletedAt), Moment(s.LastSuccessAt),
          s.LastMessage, s.ActiveFile, s.LastBackupFile, std::to_string(s.UploadCompleted)})
      out += value + '\x1f';
    for (const auto& e : s.RecentEvents) out += Moment(e.Timestamp) + '\x1d' + e.Title + '\x1d' + e.Details + '\x1f';
    out += '\x1e';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  TEnv& env = fuzz::ScratchEnv();
  WriteTextFile(GetPlanActivityFilePath(env), fuzz::Bytes(data, size), false);
  std::vector<TPlanActivitySnapshot> loaded, again;
  try {
    LoadPlanActivities(env, loaded);
  } catch (const EAppError&) {
    return 0;
  }
  SavePlanActivities(env, loaded);
  LoadPlanActivities(env, again);
  fuzz::Check(Fields(again) == Fields(loaded), "a save and a load changed the activity records");
  if (!loaded.empty()) {
    TPlanActivitySnapshot found;
    fuzz::Check(TryGetPlanActivity(env, loaded.front().PlanID, found), "a stored record is not found by its id");
  }
  return 0;
}
