// Damaged or foreign content in any of the files these stores read must give
// the documented result (defaults, an empty list, a quarantined file or the
// named error) and touch nothing else in the data directory.
#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

namespace calvora {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  if (out.rfind("dpapi:", 0) == 0) out[0] = 'x';
  return out;
}

const std::string kTenMegabytes(10 * 1024 * 1024, 'x');

enum class Target { Config, Plans, Activity };

struct BadInput {
  const char* name;
  Target target;
  std::string content;
  // Runs the reader and checks its result; `env` is a fresh environment whose
  // data directory holds the bad file.
  std::function<void(test::TTestEnv& env)> check;
};

std::map<std::string, std::string> DataFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = test::ReadFile(entry.path().string());
  return files;
}

std::string FileName(Target t) {
  switch (t) {
    case Target::Config: return "config.ini";
    case Target::Plans: return "backupplans.json";
    case Target::Activity: return "planactivity.json";
  }
  return {};
}

void ExpectDefaults(test::TTestEnv& env) {
  TConfigLocations l;
  l.ExecutableDir = env.ProgramDir();
  l.ProgramData = env.Root() + "/programdata";
  l.AppData = env.Root() + "/appdata";
  TAppConfig config(l);  // the start-up pass over the bad file
  EXPECT_EQ(config.GetClientID(), TDeploymentSettings().GoogleClientID);
  EXPECT_EQ(config.GetAuthPort(), 8080);
  EXPECT_EQ(config.GetRootFolderID(), "");
  TMSSQLBackupConfig sql = config.GetMSSQLBackupConfig();
  EXPECT_FALSE(sql.Enabled);
  EXPECT_EQ(sql.Server, "");
  TFirebirdBackupConfig fb = config.GetFirebirdBackupConfig();
  EXPECT_EQ(fb.Port, 3050);
  EXPECT_EQ(fb.UserName, "SYSDBA");
}

std::vector<TBackupPlan> LoadPlans(test::TTestEnv& env) { return TBackupPlanStore(env.Env()).LoadPlans(); }

std::vector<TPlanActivitySnapshot> LoadActivities(test::TTestEnv& env) {
  std::vector<TPlanActivitySnapshot> list;
  LoadPlanActivities(env.Env(), list);
  return list;
}

void ExpectEmptyPlans(test::TTestEnv& env) { EXPECT_TRUE(LoadPlans(env).empty()); }
void ExpectEmptyActivities(test::TTestEnv& env) { EXPECT_TRUE(LoadActivities(env).empty()); }
void ExpectQuarantine(test::TTestEnv& env, Target t, const std::string& content) {
  const std::string path = env.DataDir() + "/" + FileName(t);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(test::ReadFile(path + ".corrupt"), content);
}
// A plain file (not an envelope) is kept, now protected, whatever it holds.
void ExpectProtectedAsIs(test::TTestEnv& env, Target t, const std::string& content) {
  const std::string raw = test::ReadFile(env.DataDir() + "/" + FileName(t));
  ASSERT_EQ(raw.substr(0, 9), "\xEF\xBB\xBF" "dpapi:");
  EXPECT_EQ(UnprotectSecret(raw.substr(3)), content);
}

const std::string kWrongTypesPlan =
    R"([{"ID":["x"],"Name":{"a":{"b":[]}},"Enabled":"maybe","IntervalMinutes":{"x":1},"RarSplitVolumeMB":[],)"
    R"("UploadRetryCount":true,"LastRunAt":5,"LastFullBackupAt":{},"BackupType":7,"ScheduleType":null,)"
    R"("WeeklyDays":3.5,"FullBackupIntervalDays":"7 gun","DatabaseName":"db"}])";
const std::string kWrongTypesActivity =
    R"([{"PlanID":17,"PlanName":null,"IsRunning":"yes","LastStartedAt":12345,"LastUpdatedAt":[1],)"
    R"("RecentEvents":"not a list","UploadCompleted":{"a":1}}])";

std::vector<BadInput> Cases() {
  const std::string random = RandomBytes(64 * 1024, 7);
  const std::string invalidUtf8 = "[{\"ID\":\"{1}\",\"Name\":\"\xC3\x28\xFF\xFE\"}]";
  const std::string randomEnvelope = "dpapi:" + RandomBytes(4096, 11);
  return {
      {"config random bytes", Target::Config, random, ExpectDefaults},
      {"config invalid UTF-8 and no sections", Target::Config, "\xFF\xFE\xFD=\xC3\x28\r\n[\xC3\x28]\r\n", ExpectDefaults},
      {"config 10 MB line", Target::Config, "[Google]\r\n" + kTenMegabytes + "\r\n[MSSQLBackup]\r\n" + kTenMegabytes,
       ExpectDefaults},
      {"config 10 MB value", Target::Config, "[Google]\r\nRootFolderID=" + kTenMegabytes + "\r\n",
       [](test::TTestEnv& env) { EXPECT_EQ(env.Config().GetRootFolderID(), kTenMegabytes); }},
      {"config damaged envelopes and numbers", Target::Config,
       "[Google]\r\nAuthPort=dpapi:%%%\r\nClientID=dpapi:\r\n[FirebirdBackup]\r\nPort=99999999999\r\n"
       "UserName=dpapi:" + std::string(100, 'A') + "\r\n",
       ExpectDefaults},
      {"config invalid UTF-8 value kept as typed", Target::Config, "[MSSQLBackup]\r\nServer=\xC3\x28srv\r\n",
       [](test::TTestEnv& env) { EXPECT_EQ(env.Config().GetMSSQLBackupConfig().Server, "\xC3\x28srv"); }},

      {"plans random bytes", Target::Plans, random,
       [random](test::TTestEnv& env) {
         ExpectEmptyPlans(env);
         ExpectProtectedAsIs(env, Target::Plans, random);
       }},
      {"plans random envelope", Target::Plans, randomEnvelope,
       [randomEnvelope](test::TTestEnv& env) {
         ExpectEmptyPlans(env);
         ExpectQuarantine(env, Target::Plans, randomEnvelope);
       }},
      {"plans invalid UTF-8", Target::Plans, invalidUtf8,
       [invalidUtf8](test::TTestEnv& env) {
         ExpectEmptyPlans(env);
         ExpectProtectedAsIs(env, Target::Plans, invalidUtf8);
       }},
      {"plans 10 MB line", Target::Plans, kTenMegabytes, ExpectEmptyPlans},
      {"plans 10 MB name", Target::Plans, "[{\"Name\":\"" + kTenMegabytes + "\"}]",
       [](test::TTestEnv& env) {
         auto plans = LoadPlans(env);
         ASSERT_EQ(plans.size(), 1u);
         EXPECT_EQ(plans[0].Name, kTenMegabytes);
       }},
      {"plans deeply nested", Target::Plans, std::string(1000000, '[') + std::string(1000000, ']'), ExpectEmptyPlans},
      {"plans object instead of array", Target::Plans, R"({"ID":"{1}"})", ExpectEmptyPlans},
      {"plans array of numbers", Target::Plans, "[1,2,3]",
       [](test::TTestEnv& env) { EXPECT_THROW(LoadPlans(env), EConvertError); }},
      {"plans members of the wrong type", Target::Plans, kWrongTypesPlan,
       [](test::TTestEnv& env) {
         auto plans = LoadPlans(env);
         ASSERT_EQ(plans.size(), 1u);
         const TBackupPlan& p = plans[0];
         EXPECT_EQ(p.ID, "[\"x\"]");
         EXPECT_FALSE(p.Enabled);
         EXPECT_EQ(p.IntervalMinutes, 60);
         EXPECT_EQ(p.RarSplitVolumeMB, 1024);
         EXPECT_EQ(p.UploadRetryCount, 2);
         EXPECT_EQ(p.LastRunAt, 0);
         EXPECT_EQ(p.LastFullBackupAt, 0);
         EXPECT_EQ(p.BackupType, "sql");
         EXPECT_EQ(p.ScheduleType, "periodic");
         EXPECT_EQ(p.WeeklyDays, "3.5");
         EXPECT_EQ(p.FullBackupIntervalMinutes, 43200);
       }},
      {"plans empty file", Target::Plans, "", ExpectEmptyPlans},

      {"activity random bytes", Target::Activity, random,
       [random](test::TTestEnv& env) {
         ExpectEmptyActivities(env);
         ExpectProtectedAsIs(env, Target::Activity, random);
       }},
      {"activity random envelope", Target::Activity, randomEnvelope,
       [randomEnvelope](test::TTestEnv& env) {
         ExpectEmptyActivities(env);
         ExpectQuarantine(env, Target::Activity, randomEnvelope);
       }},
      {"activity invalid UTF-8", Target::Activity, "[{\"PlanID\":\"\xFF\"}]", ExpectEmptyActivities},
      {"activity 10 MB line", Target::Activity, kTenMegabytes, ExpectEmptyActivities},
      {"activity deeply nested", Target::Activity, std::string(1000000, '{'), ExpectEmptyActivities},
      {"activity array of strings", Target::Activity, R"(["a","b"])", ExpectEmptyActivities},
      {"activity members of the wrong type", Target::Activity, kWrongTypesActivity,
       [](test::TTestEnv& env) {
         auto list = LoadActivities(env);
         ASSERT_EQ(list.size(), 1u);
         EXPECT_EQ(list[0].PlanID, "17");
         EXPECT_EQ(list[0].PlanName, "");
         EXPECT_FALSE(list[0].IsRunning);
         EXPECT_EQ(list[0].LastStartedAt, 0);
         EXPECT_EQ(list[0].LastUpdatedAt, 0);
         EXPECT_TRUE(list[0].RecentEvents.empty());
         EXPECT_FALSE(list[0].UploadCompleted);
         // and the record can be updated and saved again
         TBackupPlan plan;
         plan.ID = "17";
         MarkPlanRunStarted(env.Env(), plan);
         EXPECT_TRUE(LoadActivities(env)[0].IsRunning);
       }},
  };
}

TEST(BadInput, EachFileGetsItsDocumentedResultAndNothingElseIsTouched) {
  for (const BadInput& c : Cases()) {
    SCOPED_TRACE(c.name);
    test::TTestEnv env;
    const std::string dir = env.DataDir();
    // Neighbours that must come through unchanged.
    test::WriteFile(dir + "/log.txt", "log line\r\n");
    test::WriteFile(dir + "/syc.dat", "token cache");
    test::WriteFile(dir + "/tdebaseline.json", "{}");
    if (c.target != Target::Config) test::WriteFile(dir + "/config.ini", "[Google]\r\nAuthPort=9000\r\n");
    if (c.target != Target::Plans) TBackupPlanStore(env.Env()).SavePlans({TBackupPlan()});
    if (c.target != Target::Activity) SavePlanActivities(env.Env(), {TPlanActivitySnapshot()});
    test::WriteFile(dir + "/" + FileName(c.target), c.content);

    std::map<std::string, std::string> before = DataFiles(dir);
    before.erase(FileName(c.target));

    c.check(env);

    std::map<std::string, std::string> after = DataFiles(dir);
    after.erase(FileName(c.target));
    after.erase(FileName(c.target) + ".corrupt");
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, content] : before) EXPECT_TRUE(after[name] == content) << name << " changed";
  }
}

}  // namespace
}  // namespace calvora
