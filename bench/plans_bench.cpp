// Time to save and load a plan file of 1,000 plans and an activity file of
// 1,000 records (each with a full history), and one run update on the
// latter. Prints one line per figure; the last line is one JSON object.
#include "foundation/Env.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

using namespace calvora;

namespace {

constexpr int kCount = 1000;
constexpr int kRuns = 7;

// Median wall time of `runs` calls, in milliseconds.
double MedianMs(const std::function<void()>& work, int runs = kRuns) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::vector<TBackupPlan> MakePlans() {
  std::vector<TBackupPlan> plans(kCount);
  for (int i = 0; i < kCount; ++i) {
    TBackupPlan& p = plans[static_cast<size_t>(i)];
    p.ID = TBackupPlanStore::GeneratePlanID();
    p.Name = Fmt("Gece yedeği %d", i);
    p.Description = "Muhasebe ve stok veritabanları, şube " + std::to_string(i);
    p.Enabled = true;
    p.AutoRun = true;
    p.BackupType = i % 3 == 0 ? "folder" : "sql";
    p.DatabaseName = "Muhasebe;Stok;Personel";
    p.SourceFolder = "/srv/paylasim/sube" + std::to_string(i);
    p.DriveSubFolder = "Yedekler/Sube" + std::to_string(i);
    p.ScheduleType = "daily";
    p.RarPassword = "şifre-" + std::to_string(i);
    p.ReportEmailAddresses = "bt@ornek.com.tr; yonetim@ornek.com.tr";
    p.LastRunAt = EncodeDateTime(2024, 3, 5, 2, 0, i % 60);
    p.LastStatus = "Başarılı";
    p.LastMessage = "Yedekleme tamamlandi";
    p.LastBackupFile = "Muhasebe_FULL_20240305.bak; Stok_FULL_20240305.bak";
  }
  return plans;
}

std::vector<TPlanActivitySnapshot> MakeActivities(const std::vector<TBackupPlan>& plans) {
  std::vector<TPlanActivitySnapshot> list;
  for (const auto& p : plans) {
    TPlanActivitySnapshot s;
    s.PlanID = p.ID;
    s.PlanName = p.Name;
    s.DatabaseName = PlanSourceText(p);
    s.CurrentStage = "Tamamlandi";
    s.CurrentState = "success";
    s.LastStartedAt = s.LastUpdatedAt = s.LastCompletedAt = s.LastSuccessAt = p.LastRunAt;
    s.LastMessage = "Yedekleme tamamlandi";
    s.LastBackupFile = p.LastBackupFile;
    s.UploadCompleted = true;
    for (size_t e = 0; e < kMaxPlanActivityEvents; ++e)
      s.RecentEvents.push_back({p.LastRunAt, "Upload", "Muhasebe_FULL_20240305.bak yuklendi"});
    list.push_back(std::move(s));
  }
  return list;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("calvora-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(root / "bin");
  if (std::getenv("CALVORA_MACHINE_KEY_FILE") == nullptr)
    setenv("CALVORA_MACHINE_KEY_FILE", (root / "machine.key").c_str(), 1);

  TConfigLocations locations;
  locations.ExecutableDir = (root / "bin").string();
  locations.ProgramData = (root / "programdata").string();
  locations.AppData = (root / "appdata").string();
  TAppConfig config(locations);
  TEnv env(config, TDeploymentSettings(), SystemClock(), platform::SystemProcessRunner(), locations.ExecutableDir,
           root.string());

  const std::vector<TBackupPlan> plans = MakePlans();
  TBackupPlanStore store(env);
  const double planSave = MedianMs([&] { store.SavePlans(plans); });
  size_t loaded = 0;
  const double planLoad = MedianMs([&] { loaded = store.LoadPlans().size(); });
  const std::int64_t planBytes = FileSizeOf(store.FilePath());

  const auto activities = MakeActivities(plans);
  const double activitySave = MedianMs([&] { SavePlanActivities(env, activities); });
  std::vector<TPlanActivitySnapshot> back;
  const double activityLoad = MedianMs([&] { LoadPlanActivities(env, back); });
  const std::int64_t activityBytes = FileSizeOf(GetPlanActivityFilePath(env));
  const double progressUpdate =
      MedianMs([&] { ReportPlanRunProgress(env, plans[500], "Upload", "yukleniyor", false, "a.bak"); });

  std::error_code ec;
  fs::remove_all(root, ec);
  if (loaded != plans.size() || back.size() != activities.size()) {
    std::fprintf(stderr, "round trip lost records\n");
    return 1;
  }

  std::printf("plans: %d, file %lld bytes: save %.1f ms, load %.1f ms\n", kCount, static_cast<long long>(planBytes),
              planSave, planLoad);
  std::printf("activity records: %d x %zu events, file %lld bytes: save %.1f ms, load %.1f ms, one progress update %.1f ms\n",
              kCount, kMaxPlanActivityEvents, static_cast<long long>(activityBytes), activitySave, activityLoad,
              progressUpdate);
  auto r = [](double ms) { return std::round(ms * 100) / 100; };
  TJson figures = {{"plans", kCount},
                   {"plan_file_bytes", planBytes},
                   {"plan_save_ms", r(planSave)},
                   {"plan_load_ms", r(planLoad)},
                   {"activity_records", kCount},
                   {"activity_file_bytes", activityBytes},
                   {"activity_save_ms", r(activitySave)},
                   {"activity_load_ms", r(activityLoad)},
                   {"activity_progress_update_ms", r(progressUpdate)}};
  std::printf("%s\n", figures.dump().c_str());
  return 0;
}
