// The backup service program: runs in the foreground under systemd.
#include "foundation/Env.h"
#include "foundation/TextUtil.h"
#include "service/uAppUpdater.h"
#include "service/uBackupServiceMain.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // Answered before the data directory is set up, so asking for the
    // version leaves nothing behind.
    if (arguments.size() == 1 && calvora::SameText(arguments[0], "--version")) {
      std::printf("%s\n", calvora::GetCurrentVersionText().c_str());
      return 0;
    }
    return calvora::RunServiceProgram(calvora::TEnv::Process(), arguments);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "CalvoraService: %s\n", e.what());
    return 1;
  }
}
