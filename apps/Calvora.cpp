// The control program. Serves "--service-op" before anything else; the
// desktop windows build on this entry point.
#include "foundation/Env.h"
#include "foundation/TextUtil.h"
#include "service/uAppUpdater.h"
#include "service/uServiceManager.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    for (const std::string& argument : arguments)
      if (calvora::SameText(argument, "--version")) {
        std::printf("%s\n", calvora::GetCurrentVersionText().c_str());
        return 0;
      }
    std::string message;
    bool success = false;
    int exitCode = 0;
    // The data directory is only set up when an operation is asked for.
    if (!calvora::ServiceOperationFromArguments(arguments).empty() &&
        calvora::HandleServiceOperationCommandLine(calvora::TEnv::Process(), arguments, message, success,
                                                   exitCode)) {
      std::printf("%s: %s\n", calvora::kBackupServiceDisplayName, message.c_str());
      return exitCode;
    }
    std::printf("Kullanim: Calvora --service-op install|uninstall|start|stop\n");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Calvora: %s\n", e.what());
    return 1;
  }
}
