#pragma once
// The seams of one running system: configuration (and with it the data
// directory), deployment settings (HTTP base URLs and built-in values),
// clock, process runner, program folder and private temporary folder, and
// the process-wide caches. Components take a TEnv; the programs use
// TEnv::Process(), tests build their own.
#include "foundation/Clock.h"
#include "foundation/uAppConfig.h"
#include "foundation/uDeploymentSettings.h"
#include "platform/process.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

namespace calvora {

class TEnv {
 public:
  TEnv(TAppConfig& config, TDeploymentSettings deployment, const TClock& clock,
       platform::ProcessRunner& processes, std::string programDir, std::string tempDir);

  // The running program's environment: TAppConfig::Instance(), the
  // deployment file, the system clock and process runner, the executable's
  // folder and the per-user private temporary folder.
  static TEnv& Process();

  TAppConfig& Config() const { return config_; }
  std::string DataDir() const { return config_.GetConfigDir(); }
  const TDeploymentSettings& Deployment() const { return deployment_; }
  const TClock& Clock() const { return clock_; }
  TDateTime Now() const { return clock_.Now(); }
  platform::ProcessRunner& Processes() const { return processes_; }
  // Folder of the executables: "sql" scripts and the archiver are found here.
  const std::string& ProgramDir() const { return programDir_; }
  // Private per-user temporary folder.
  const std::string& TempDir() const { return tempDir_; }

  // One object of type T per environment, made on first use. The
  // process-wide caches live here, so each test environment has its own.
  template <typename T>
  T& Shared() const {
    std::lock_guard<std::mutex> guard(sharedLock_);
    auto& slot = shared_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }

 private:
  TAppConfig& config_;
  TDeploymentSettings deployment_;
  const TClock& clock_;
  platform::ProcessRunner& processes_;
  std::string programDir_;
  std::string tempDir_;
  mutable std::mutex sharedLock_;
  mutable std::map<std::type_index, std::shared_ptr<void>> shared_;
};

}  // namespace calvora
