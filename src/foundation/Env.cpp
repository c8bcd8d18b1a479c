#include "foundation/Env.h"

#include "platform/paths.h"

namespace calvora {

TEnv::TEnv(TAppConfig& config, TDeploymentSettings deployment, const TClock& clock,
           platform::ProcessRunner& processes, std::string programDir, std::string tempDir)
    : config_(config),
      deployment_(std::move(deployment)),
      clock_(clock),
      processes_(processes),
      programDir_(std::move(programDir)),
      tempDir_(std::move(tempDir)) {}

TEnv& TEnv::Process() {
  static TEnv env(TAppConfig::Instance(), LoadDeploymentSettings(DefaultDeploymentFilePath()),
                  SystemClock(), platform::SystemProcessRunner(), platform::ExecutableDir(),
                  platform::UserTempDir());
  return env;
}

}  // namespace calvora
