#include "../service/ServiceTestSupport.h"

#include "AccountDirectoryState.h"
#include "account/uFirebaseActiveAccount.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"
#include "runner/uBackupPlanRunner.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

class PlanRunnerTest : public ::testing::Test {
 protected:
  PlanRunnerTest() {
    cloud.Cloud().Account().Write("Lisanslar/musteri",
                                  devcloud::DatabaseJson{{"LoginName", "musteri"}, {"Sifre", "pw"}});
    SaveSignIn(Env(), TAccountCredentials{"musteri", "pw", "Deneme"});
  }
  TEnv& Env() { return env.Env(); }

  static TBackupPlan Plan(const std::string& id, const std::string& name, const std::string& type = "sql") {
    TBackupPlan plan;
    plan.ID = id;
    plan.Name = name;
    plan.BackupType = type;
    plan.DatabaseName = "Muhasebe";
    plan.SourceFolder = "/veri";
    plan.Enabled = true;
    plan.AutoRun = true;
    plan.ScheduleType = "periodic";
    plan.IntervalMinutes = 60;
    return plan;
  }
  void Save(const std::vector<TBackupPlan>& plans) { TBackupPlanStore(Env()).SavePlans(plans); }
  std::vector<TBackupPlan> Load() { return TBackupPlanStore(Env()).LoadPlans(); }

  // A runner whose backup takes ten minutes and ends as `succeed` says.
  TBackupPlanRunner Runner(bool succeed = true, std::function<void(TBackupPlan&)> during = nullptr) {
    return TBackupPlanRunner(Env(), [this, succeed, during](TBackupPlan& plan, const TUploadProgress&,
                                                            std::string& file, std::string& message) {
      ran.push_back(plan.Name);
      env.Clock().AdvanceSeconds(600);
      if (during) during(plan);
      file = "/yedek/" + plan.Name + ".bak";
      message = succeed ? "Tamam." : "Olmadi.";
      return succeed;
    });
  }

  test::TServiceCloud cloud;
  test::TTestEnv env{cloud.Deployment()};
  std::vector<std::string> ran;
};

TEST_F(PlanRunnerTest, OutcomeIsRecordedAndTheFullBackupMomentRenewedByTheRule) {
  const TDateTime start = env.Clock().Now();
  const TDateTime end = IncMinutes(start, 10);
  const TDateTime dayAgo = IncDays(start, -1);
  const TDateTime monthAgo = IncDays(start, -31);
  struct Case {
    const char* type;
    bool differential;
    TDateTime lastFull;
    bool succeed;
    TDateTime expected;
  } cases[] = {
      {"sql", false, dayAgo, true, end},       {"sql", true, dayAgo, true, dayAgo},
      {"sql", true, monthAgo, true, end},      {"sql", true, 0, true, end},
      {"sql", false, dayAgo, false, dayAgo},   {"folder", false, dayAgo, true, dayAgo},
      {"firebird", false, 0, true, end},
  };
  for (const auto& c : cases) {
    env.Clock().Set(start);
    TBackupPlan plan = Plan("{A1}", std::string("Plan ") + c.type, c.type);
    plan.EnableDifferential = c.differential;
    plan.LastFullBackupAt = c.lastFull;
    Save({plan});
    EXPECT_EQ(Runner(c.succeed).RunBackupPlan(plan), c.succeed);
    const TBackupPlan stored = Load()[0];
    for (const TBackupPlan& p : {plan, stored}) {
      EXPECT_DOUBLE_EQ(p.LastFullBackupAt, c.expected) << c.type << c.differential << c.succeed;
      EXPECT_DOUBLE_EQ(p.LastRunAt, end);
      EXPECT_EQ(p.LastStatus, c.succeed ? "Başarılı" : "Hatalı");
      EXPECT_EQ(p.LastMessage, c.succeed ? "Tamam." : "Olmadi.");
      EXPECT_EQ(p.LastBackupFile, "/yedek/" + plan.Name + ".bak");
    }
    TPlanActivitySnapshot activity;
    ASSERT_TRUE(TryGetPlanActivity(Env(), "{a1}", activity));
    EXPECT_FALSE(activity.IsRunning);
    EXPECT_EQ(activity.CurrentState, c.succeed ? "success" : "failed");
  }
  EXPECT_EQ(cloud.Cloud().Account().Read("Lisanslar/musteri/SonPlanGerceklestirmeSaati"),
            FormatDateTime(end));
}

TEST_F(PlanRunnerTest, EditsSavedDuringTheRunSurviveTheMerge) {
  Save({Plan("{B0}", "Once"), Plan("{B1}", "Eski ad")});
  TBackupPlan plan = Load()[1];
  plan.ID = "{b1}";  // IDs compare ignoring case
  auto runner = Runner(true, [this](TBackupPlan&) {
    auto plans = Load();
    plans[1].Name = "Yeni ad";
    plans[1].IntervalMinutes = 15;
    Save(plans);
  });
  ASSERT_TRUE(runner.RunBackupPlan(plan));
  const auto stored = Load();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].Name, "Yeni ad");
  EXPECT_EQ(stored[1].IntervalMinutes, 15);
  EXPECT_EQ(stored[1].LastStatus, "Başarılı");
  EXPECT_EQ(stored[1].LastMessage, "Tamam.");
  EXPECT_EQ(plan.Name, "Yeni ad");  // the caller sees the merged record
  EXPECT_EQ(stored[0].LastStatus, "");

  // A plan deleted while it ran is not written back.
  TBackupPlan gone = stored[0];
  auto deleting = Runner(true, [this](TBackupPlan&) { Save({Load()[1]}); });
  ASSERT_TRUE(deleting.RunBackupPlan(gone));
  ASSERT_EQ(Load().size(), 1u);
  EXPECT_EQ(Load()[0].Name, "Yeni ad");
  EXPECT_EQ(gone.LastStatus, "Başarılı");
}

TEST_F(PlanRunnerTest, RunByIdTakesTheStoredPlanOrSaysItIsMissing) {
  Save({Plan("{C1}", "Bir")});
  std::string message;
  EXPECT_FALSE(Runner().RunBackupPlanById("{C9}", message));
  EXPECT_EQ(message, "Plan bulunamadı.");
  EXPECT_TRUE(ran.empty());
  EXPECT_FALSE(Runner(false).RunBackupPlanById("{c1}", message));
  EXPECT_EQ(message, "Olmadi.");
  EXPECT_EQ(Load()[0].LastStatus, "Hatalı");
}

TEST_F(PlanRunnerTest, DuePlansRunInFileOrderAndOneThatFallsDueMeanwhileJoinsThePass) {
  const TDateTime now = env.Clock().Now();
  TBackupPlan first = Plan("{D1}", "Birinci");
  first.LastRunAt = IncMinutes(now, -120);
  TBackupPlan disabled = Plan("{D2}", "Kapali");
  disabled.Enabled = false;
  disabled.LastRunAt = IncMinutes(now, -120);
  TBackupPlan later = Plan("{D3}", "Sonra");
  later.LastRunAt = IncMinutes(now, -55);  // due five minutes into the first run
  TBackupPlan notYet = Plan("{D4}", "Henuz degil");
  notYet.LastRunAt = IncMinutes(now, -30);
  Save({first, disabled, later, notYet});

  EXPECT_EQ(Runner().RunDuePlans(now), 2);
  EXPECT_EQ(ran, (std::vector<std::string>{"Birinci", "Sonra"}));
  EXPECT_EQ(Runner().RunDuePlans(now), 0);
}

TEST_F(PlanRunnerTest, AnUnreachableAccountDirectoryOnlyCostsAWarning) {
  Save({Plan("{E1}", "Bir")});
  ClearSavedSignIn(Env());
  test::TLogCapture log;
  TBackupPlan plan = Load()[0];
  EXPECT_TRUE(Runner().RunBackupPlan(plan));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Son plan gerceklestirme zamani Firebase'e yazilamadi: "));
  EXPECT_TRUE(log.Contains(TLogLevel::Info, "Backup plani calistiriliyor: Bir ({E1})"));
  EXPECT_EQ(Load()[0].LastStatus, "Başarılı");
}

}  // namespace
}  // namespace calvora
