#pragma once
// What the restore tests share: the engine fixture (emulator, signed-in
// account, Google token) with a restore service on the same environment,
// a few look-ups and an environment variable set for one test.
#include "EngineTestSupport.h"
#include "restore/uRestore.h"

#include <optional>
#include <string>
#include <vector>

namespace calvora::test {

// Sets a variable of this process and puts the old value back.
class TScopedEnvVar {
 public:
  TScopedEnvVar(const std::string& name, const std::string& value);
  ~TScopedEnvVar();
  TScopedEnvVar(const TScopedEnvVar&) = delete;
  TScopedEnvVar& operator=(const TScopedEnvVar&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class RestoreTest : public EngineTest {
 protected:
  // The plan of that name from Drive's plan list (fails the test if absent).
  TRestorePlan LoadPlan(TRestoreService& restore, const std::string& name);
  std::vector<TRestoreBackup> Backups(TRestoreService& restore, const TRestorePlan& plan);
  std::vector<TRestoreVersion> Versions(TRestoreService& restore, const TRestoreBackup& backup);
  // The backup of that name (fails the test if absent).
  static TRestoreBackup Named(const std::vector<TRestoreBackup>& backups, const std::string& name);
  // Every file below the folder as a relative path, sorted.
  static std::vector<std::string> TreeFiles(const std::string& folder);
  // Nothing is left in the restore's work folders.
  bool WorkFoldersEmpty() const;
};

}  // namespace calvora::test
