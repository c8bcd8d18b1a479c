// A process killed while it saves must leave the previous or the new
// content behind, never a part of it. A child process saves in a loop and is
// killed at a random moment; the parent then reads what is on disk.
#include "platform/child_process.h"
#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace calvora {
namespace {

constexpr int kRounds = 30;

// Kills the child either at a random moment or right after the watched file
// is seen to change (the moment a writer that truncates in place would be
// caught with a part of the file).
void KillWhileSaving(const std::string& watched, const std::function<void(int)>& save,
                     const std::function<void(int)>& verify) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> delayMs(3, 40);
  for (int round = 0; round < kRounds; ++round) {
    const std::int64_t sizeBefore = FileSizeOf(watched);
    platform::ForkedChild child([&] {
      for (int i = 0;; ++i) save(i);
    });
    ASSERT_TRUE(child.Started());
    if (round % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(rng)));
    } else {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (FileSizeOf(watched) == sizeBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    child.Kill();
    ASSERT_TRUE(child.WaitKilled()) << "the saving child stopped by itself in round " << round;
    verify(round);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// The larger the file, the longer a save spends writing it.
std::vector<TBackupPlan> Plans(size_t count, const std::string& tag, size_t descriptionSize) {
  std::vector<TBackupPlan> plans(count);
  for (size_t i = 0; i < count; ++i) {
    plans[i].ID = "{" + std::to_string(i) + "}";
    plans[i].Name = tag + " " + std::to_string(i);
    plans[i].Description = std::string(descriptionSize, 'd');
    plans[i].RarPassword = "pw";
  }
  return plans;
}

TEST(CrashSafety, PlanFileIsOldOrNewAfterAKilledSave) {
  test::TTempDir dir;
  TBackupPlanStore store(dir.Path());
  const auto small = Plans(1, "A", 10), large = Plans(100, "B", 3000);
  store.SavePlans(small);
  KillWhileSaving(store.FilePath(), [&](int i) { store.SavePlans(i % 2 ? small : large); },
                  [&](int round) {
                    std::vector<TBackupPlan> plans;
                    ASSERT_NO_THROW(plans = store.LoadPlans()) << round;
                    ASSERT_TRUE(plans.size() == 1 || plans.size() == 100) << plans.size() << " in round " << round;
                    EXPECT_EQ(plans.back().Name, plans.size() == 1 ? "A 0" : "B 99");
                    EXPECT_EQ(plans.back().RarPassword, "pw");
                    ASSERT_FALSE(FileExists(store.FilePath() + ".corrupt")) << round;
                  });
}

TEST(CrashSafety, ConfigFileKeepsEveryKeyAfterAKilledSave) {
  test::TTestEnv env;
  TMSSQLBackupConfig a{true, "server-a", "user-a", "password-a", "/out/a"};
  TMSSQLBackupConfig b{true, "server-b", "user-b", std::string(2000, 'p'), "/out/b"};
  env.Config().SetMSSQLBackupConfig(a);
  KillWhileSaving(env.Config().GetConfigFilePath(), [&](int i) { env.Config().SetMSSQLBackupConfig(i % 2 ? a : b); },
                  [&](int round) {
                    // Keys are written one by one, so a mix of both is fine; a
                    // lost or damaged value is not.
                    TMSSQLBackupConfig now = env.Config().GetMSSQLBackupConfig();
                    EXPECT_TRUE(now.Enabled) << round;
                    EXPECT_TRUE(now.Server == a.Server || now.Server == b.Server) << round;
                    EXPECT_TRUE(now.UserName == a.UserName || now.UserName == b.UserName) << round;
                    EXPECT_TRUE(now.Password == a.Password || now.Password == b.Password) << round;
                    EXPECT_TRUE(now.BackupOutputDir == a.BackupOutputDir || now.BackupOutputDir == b.BackupOutputDir)
                        << round;
                  });
}

TEST(CrashSafety, ActivityFileIsOldOrNewAfterAKilledSave) {
  test::TTestEnv env;
  TBackupPlan plan;
  plan.ID = "{1}";
  plan.Name = std::string(20000, 'n');  // a larger file widens the window
  MarkPlanRunStarted(env.Env(), plan);
  KillWhileSaving(GetPlanActivityFilePath(env.Env()),
                  [&](int i) { ReportPlanRunProgress(env.Env(), plan, "Adim", std::string(i % 2 ? 10 : 5000, 'm'), false, ""); },
                  [&](int round) {
                    std::vector<TPlanActivitySnapshot> list;
                    ASSERT_NO_THROW(LoadPlanActivities(env.Env(), list)) << round;
                    ASSERT_EQ(list.size(), 1u) << round;
                    EXPECT_EQ(list[0].PlanName, plan.Name);
                    EXPECT_FALSE(FileExists(GetPlanActivityFilePath(env.Env()) + ".corrupt")) << round;
                  });
}

}  // namespace
}  // namespace calvora
