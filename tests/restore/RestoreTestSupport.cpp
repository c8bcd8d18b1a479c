#include "RestoreTestSupport.h"

#include "foundation/TextUtil.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace calvora::test {

TScopedEnvVar::TScopedEnvVar(const std::string& name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) old_ = old;
  setenv(name.c_str(), value.c_str(), 1);
}

TScopedEnvVar::~TScopedEnvVar() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

TRestorePlan RestoreTest::LoadPlan(TRestoreService& restore, const std::string& name) {
  std::vector<TRestorePlan> plans;
  std::string message;
  EXPECT_TRUE(restore.LoadPlans(plans, message)) << message;
  for (const TRestorePlan& plan : plans)
    if (plan.Plan.Name == name) return plan;
  ADD_FAILURE() << "no plan " << name << ": " << message;
  return TRestorePlan();
}

std::vector<TRestoreBackup> RestoreTest::Backups(TRestoreService& restore, const TRestorePlan& plan) {
  std::vector<TRestoreBackup> backups;
  std::string message;
  EXPECT_TRUE(restore.ListBackups(plan, backups, message)) << message;
  return backups;
}

std::vector<TRestoreVersion> RestoreTest::Versions(TRestoreService& restore, const TRestoreBackup& backup) {
  std::vector<TRestoreVersion> versions;
  std::string message;
  EXPECT_TRUE(restore.ListVersions(backup, versions, message)) << message;
  return versions;
}

TRestoreBackup RestoreTest::Named(const std::vector<TRestoreBackup>& backups, const std::string& name) {
  for (const TRestoreBackup& backup : backups)
    if (backup.Name == name || backup.RelativePath == name) return backup;
  ADD_FAILURE() << "no backup " << name;
  return TRestoreBackup();
}

std::vector<std::string> RestoreTest::TreeFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    if (it->is_regular_file() || it->is_symlink())
      files.push_back(std::filesystem::relative(it->path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

bool RestoreTest::WorkFoldersEmpty() const {
  return TreeFiles(testEnv->TempDir() + "/CalvoraRestore").empty();
}

}  // namespace calvora::test
