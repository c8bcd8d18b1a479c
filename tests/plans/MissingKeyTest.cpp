// A machine key that went missing (a restored system, a mistaken cleanup)
// must not cost the data sealed with it: every protected file stays as it
// is, nothing is set aside, and no new key takes the lost one's place.
#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "foundation/uSecureString.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"
#include "platform/machine_protect.h"

#include "TestSupport.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>
#include <map>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::map<std::string, std::string> FilesOf(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = test::ReadFile(entry.path().string());
  return files;
}

TEST(MissingMachineKey, ProtectedFilesStayAsTheyAreAndNoNewKeyIsMade) {
  test::TTestEnv env;
  TBackupPlanStore store(env.Env());
  TBackupPlan plan;
  plan.ID = "{1}";
  plan.Name = "Muhasebe";
  plan.RarPassword = "arsiv-sifresi";
  store.SavePlans({plan});
  MarkPlanRunStarted(env.Env(), plan);
  env.Config().SetRootFolderID("kok-klasor");
  const std::string key = platform::DefaultMachineKeyPath();
  const std::string keyBytes = test::ReadFile(key);
  const auto before = FilesOf(env.DataDir());
  fs::remove(key);

  test::TLogCapture log;
  const std::function<void()> attempts[] = {
      [&] { store.LoadPlans(); },
      [&] {
        std::vector<TPlanActivitySnapshot> list;
        LoadPlanActivities(env.Env(), list);
      },
      [&] { store.SavePlans({plan}); },
      [&] { MarkPlanRunFinished(env.Env(), plan, true, "tamam", true, ""); },
      [&] { env.Config().SetClientID("baska"); },
      [&] { ProtectSecret("yeni"); },
  };
  for (size_t i = 0; i < std::size(attempts); ++i) {
    SCOPED_TRACE(i);
    try {
      attempts[i]();
      ADD_FAILURE() << "no protection failure";
    } catch (const EAppError& e) {
      EXPECT_THAT(e.what(), HasSubstr("Makine anahtari bulunamadi: " + key));
    }
    EXPECT_FALSE(fs::exists(key)) << "a new key would lock the stored secrets away";
  }
  EXPECT_EQ(env.Config().GetRootFolderID(), "");
  EXPECT_EQ(FilesOf(env.DataDir()), before);
  EXPECT_TRUE(log.Contains(TLogLevel::Error, "Makine anahtari bulunamadi: " + key));

  // The key back in its place: everything opens as before.
  test::WriteFile(key, keyBytes);
  const auto plans = store.LoadPlans();
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].RarPassword, "arsiv-sifresi");
  EXPECT_EQ(env.Config().GetRootFolderID(), "kok-klasor");
}

TEST(MissingMachineKey, IsMadeWhileNothingIsProtectedYet) {
  const std::string key = platform::DefaultMachineKeyPath();
  std::error_code ec;
  fs::remove(key, ec);
  test::TTestEnv env;
  // A plan file of an older version is plain text: it needs no key.
  test::WriteFile(env.DataDir() + "/backupplans.json", R"([{"ID":"{1}","Name":"Eski"}])");
  TBackupPlanStore store(env.Env());
  ASSERT_EQ(store.LoadPlans().size(), 1u);
  EXPECT_TRUE(fs::exists(key));
  EXPECT_TRUE(IsProtectedSecret(ReadTextFile(env.DataDir() + "/backupplans.json")));
}

}  // namespace
}  // namespace calvora
