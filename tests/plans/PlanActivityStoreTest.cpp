#include "foundation/JsonText.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"
#include "plans/uPlanActivityStore.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace calvora {
namespace {

class ActivityTest : public ::testing::Test {
 protected:
  ActivityTest() {
    plan.ID = "{AB-1}";
    plan.Name = "Gece";
    plan.DatabaseName = " Muhasebe;Stok ";
  }
  const TEnv& Env() { return env.Env(); }
  TPlanActivitySnapshot Record(const std::string& id) {
    TPlanActivitySnapshot s;
    EXPECT_TRUE(TryGetPlanActivity(Env(), id, s)) << id;
    return s;
  }
  TDateTime At(int h, int m, int s = 0) const { return EncodeDateTime(2024, 3, 5, h, m, s); }
  std::string StoredJson() {
    const std::string raw = test::ReadFile(GetPlanActivityFilePath(Env()));
    EXPECT_EQ(raw.substr(0, 3), "\xEF\xBB\xBF");
    return UnprotectSecret(raw.substr(3));
  }

  test::TTestEnv env;
  TBackupPlan plan;
};

TEST_F(ActivityTest, ARunFromStartToSuccess) {
  TPlanActivitySnapshot none;
  EXPECT_FALSE(TryGetPlanActivity(Env(), plan.ID, none));
  EXPECT_EQ(none.PlanID, "");

  env.Clock().Set(At(10, 0));
  MarkPlanRunStarted(Env(), plan);
  TPlanActivitySnapshot s = Record(plan.ID);
  EXPECT_EQ(s.PlanName, "Gece");
  EXPECT_EQ(s.DatabaseName, "Muhasebe, Stok");
  EXPECT_TRUE(s.IsRunning);
  EXPECT_EQ(s.CurrentStage, "Hazirlaniyor");
  EXPECT_EQ(s.CurrentState, "running");
  EXPECT_EQ(s.LastStartedAt, At(10, 0));
  EXPECT_EQ(s.LastUpdatedAt, At(10, 0));
  EXPECT_EQ(s.LastMessage, "Plan calistirildi.");

  env.Clock().Set(At(10, 5));
  ReportPlanRunProgress(Env(), plan, "Upload", "", true, "/work/a.bak");
  env.Clock().Set(At(10, 6));
  ReportPlanRunProgress(Env(), plan, "Temizlik", "Eski dosyalar silindi", false, "");
  s = Record(plan.ID);
  EXPECT_TRUE(s.UploadCompleted);  // stays once reached
  EXPECT_EQ(s.CurrentStage, "Temizlik");
  EXPECT_EQ(s.LastStartedAt, At(10, 0));
  EXPECT_EQ(s.LastUpdatedAt, At(10, 6));

  env.Clock().Set(At(10, 7));
  plan.Name = "Gece (yeni ad)";
  MarkPlanRunFinished(Env(), plan, true, "Yedekleme tamamlandi", true, "/work/a.bak");
  s = Record("{ab-1}");  // ids compare ignoring case
  EXPECT_EQ(s.PlanName, "Gece (yeni ad)");
  EXPECT_FALSE(s.IsRunning);
  EXPECT_EQ(s.CurrentStage, "Tamamlandi");
  EXPECT_EQ(s.CurrentState, "success");
  EXPECT_EQ(s.LastCompletedAt, At(10, 7));
  EXPECT_EQ(s.LastSuccessAt, At(10, 7));
  EXPECT_EQ(s.ActiveFile, "/work/a.bak");
  EXPECT_EQ(s.LastBackupFile, "/work/a.bak");

  const std::vector<std::pair<std::string, std::string>> events = {
      {"Plan Basladi", "Plan calistirildi."},
      {"Upload", "/work/a.bak"},  // no message: the active file
      {"Temizlik", "Eski dosyalar silindi"},
      {"Tamamlandi", "Yedekleme tamamlandi"}};
  ASSERT_EQ(s.RecentEvents.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(s.RecentEvents[i].Title, events[i].first);
    EXPECT_EQ(s.RecentEvents[i].Details, events[i].second);
  }
  EXPECT_EQ(s.RecentEvents[1].Timestamp, At(10, 5));
}

TEST_F(ActivityTest, FailureKeepsThePreviousSuccessAndAFinishAloneStampsTheStart) {
  env.Clock().Set(At(9, 0));
  MarkPlanRunFinished(Env(), plan, true, "ok", true, "a.bak");
  TPlanActivitySnapshot s = Record(plan.ID);
  EXPECT_EQ(s.LastStartedAt, At(9, 0));

  env.Clock().Set(At(10, 0));
  MarkPlanRunStarted(Env(), plan);
  s = Record(plan.ID);
  EXPECT_EQ(s.ActiveFile, "");
  EXPECT_FALSE(s.UploadCompleted);
  EXPECT_EQ(s.LastBackupFile, "a.bak");  // kept until the next finish

  env.Clock().Set(At(10, 3));
  MarkPlanRunFinished(Env(), plan, false, "Baglanti hatasi", false, "");
  s = Record(plan.ID);
  EXPECT_EQ(s.CurrentStage, "Hata");
  EXPECT_EQ(s.CurrentState, "failed");
  EXPECT_EQ(s.LastCompletedAt, At(10, 3));
  EXPECT_EQ(s.LastSuccessAt, At(9, 0));
  EXPECT_EQ(s.RecentEvents.back().Title, "Hata");

  // A progress report after the end puts the record back into running.
  ReportPlanRunProgress(Env(), plan, "Download", "indiriliyor", false, "");
  s = Record(plan.ID);
  EXPECT_TRUE(s.IsRunning);
  EXPECT_EQ(s.LastCompletedAt, At(10, 3));
  EXPECT_EQ(s.LastSuccessAt, At(9, 0));
}

TEST_F(ActivityTest, HistoryKeepsTheLatestEighteenInOrder) {
  MarkPlanRunStarted(Env(), plan);
  for (int i = 1; i <= 18; ++i) ReportPlanRunProgress(Env(), plan, "Adim", std::to_string(i), false, "");
  TPlanActivitySnapshot s = Record(plan.ID);
  ASSERT_EQ(s.RecentEvents.size(), 18u);
  EXPECT_EQ(s.RecentEvents.front().Details, "1");  // "Plan Basladi" dropped by the 19th
  EXPECT_EQ(s.RecentEvents.back().Details, "18");

  // A record that holds more than the limit (edited by hand) is brought back to it.
  for (int i = 0; i < 30; ++i) s.RecentEvents.push_back({0, "x", "y"});
  AppendPlanActivityEvent(Env(), s, "son", "z");
  EXPECT_EQ(s.RecentEvents.size(), 18u);
  EXPECT_EQ(s.RecentEvents.back().Title, "son");
}

TEST_F(ActivityTest, RecordsKeepTheirFirstOrderAndOneRecordPerId) {
  TBackupPlan other = plan;
  other.ID = "{CD-2}";
  other.BackupType = "folder";
  other.SourceFolder = " /srv/share ";
  MarkPlanRunStarted(Env(), plan);
  MarkPlanRunStarted(Env(), other);
  TBackupPlan sameInOtherCase = plan;
  sameInOtherCase.ID = "{ab-1}";
  MarkPlanRunFinished(Env(), sameInOtherCase, true, "", true, "");
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(Env(), list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].PlanID, "{ab-1}");
  EXPECT_EQ(list[1].DatabaseName, "/srv/share");
  EXPECT_EQ(FindPlanActivityIndex(list, "{CD-2}"), 1);
  EXPECT_EQ(FindPlanActivityIndex(list, "{cd-2}"), 1);
  EXPECT_EQ(FindPlanActivityIndex(list, "{EF-3}"), -1);
}

TEST_F(ActivityTest, FileIsACompactProtectedArrayWithEmptyDatesAsEmptyStrings) {
  env.Clock().Set(At(10, 0, 7));
  TPlanActivitySnapshot s;
  s.PlanID = "{1}";
  s.PlanName = "Ş";
  AppendPlanActivityEvent(Env(), s, "T", "D");
  SavePlanActivity(Env(), s);
  EXPECT_EQ(StoredJson(),
            "[{\"PlanID\":\"{1}\",\"PlanName\":\"\\u015e\",\"DatabaseName\":\"\",\"IsRunning\":false,"
            "\"CurrentStage\":\"\",\"CurrentState\":\"\",\"LastStartedAt\":\"\",\"LastUpdatedAt\":\"\","
            "\"LastCompletedAt\":\"\",\"LastSuccessAt\":\"\",\"LastMessage\":\"\",\"ActiveFile\":\"\","
            "\"LastBackupFile\":\"\",\"UploadCompleted\":false,\"RecentEvents\":[{\"Timestamp\":"
            "\"2024-03-05 10:00:07\",\"Title\":\"T\",\"Details\":\"D\"}]}]");
}

TEST_F(ActivityTest, PlainFileIsReadAndProtectedInTheSameRead) {
  const std::string plain =
      R"([{"PlanID":"{1}","IsRunning":"TRUE","LastStartedAt":"2024-03-05 10:00:00","LastUpdatedAt":"",)"
      R"("LastCompletedAt":"dun","UploadCompleted":true,"RecentEvents":[{"Title":"a"},7]},)"
      R"(42,{"PlanID":"{2}","RecentEvents":{"Title":"not a list"}}])";
  test::WriteFile(GetPlanActivityFilePath(Env()), plain);
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(Env(), list);
  ASSERT_EQ(list.size(), 2u);  // the element that is no object carries no record
  EXPECT_TRUE(list[0].IsRunning);
  EXPECT_EQ(list[0].LastStartedAt, At(10, 0));
  EXPECT_EQ(list[0].LastUpdatedAt, 0);
  EXPECT_EQ(list[0].LastCompletedAt, 0);
  ASSERT_EQ(list[0].RecentEvents.size(), 2u);
  EXPECT_EQ(list[0].RecentEvents[1].Title, "");
  EXPECT_TRUE(list[1].RecentEvents.empty());
  EXPECT_EQ(StoredJson(), plain);  // protected as it was, during that read

  SavePlanActivities(Env(), list);
  TJson json;
  ASSERT_TRUE(TryParseJson(StoredJson(), json));
  EXPECT_EQ(json[0]["LastCompletedAt"], "");
}

TEST_F(ActivityTest, UndecodableFileIsSetAsideAndTheNextUpdateStartsAfresh) {
  const std::string path = GetPlanActivityFilePath(Env());
  test::WriteFile(path + ".corrupt", "older");
  test::WriteFile(path, "dpapi:" + std::string(40, 'A'));
  std::vector<TPlanActivitySnapshot> list{TPlanActivitySnapshot()};
  LoadPlanActivities(Env(), list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(test::ReadFile(path + ".corrupt"), "dpapi:" + std::string(40, 'A'));
  EXPECT_FALSE(FileExists(path));

  MarkPlanRunStarted(Env(), plan);
  LoadPlanActivities(Env(), list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].PlanID, plan.ID);

  test::WriteFile(path, ProtectSecret("{\"not\":\"a list\"}"));
  LoadPlanActivities(Env(), list);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(FileExists(path));  // left for the next save to replace
}

TEST_F(ActivityTest, ConcurrentUpdatesOfDifferentPlansInOneProcessLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      TBackupPlan p = plan;
      p.ID = "{T" + std::to_string(t) + "}";
      MarkPlanRunStarted(Env(), p);
      for (int i = 0; i < 10; ++i) ReportPlanRunProgress(Env(), p, "Adim", std::to_string(i), false, "");
      MarkPlanRunFinished(Env(), p, true, "ok", true, "");
    });
  for (auto& th : threads) th.join();
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(Env(), list);
  ASSERT_EQ(list.size(), 4u);
  for (const auto& s : list) {
    EXPECT_EQ(s.CurrentState, "success") << s.PlanID;
    EXPECT_EQ(s.RecentEvents.size(), 12u) << s.PlanID;
  }
  EXPECT_EQ(&PlanActivityLock(Env()), &PlanActivityLock(Env()));
}

}  // namespace
}  // namespace calvora
