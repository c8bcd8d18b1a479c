// The backup service program: runs in the foreground under systemd.
#include "foundation/Env.h"
#include "service/uBackupServiceMain.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return calvora::RunServiceProgram(calvora::TEnv::Process(), arguments);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "CalvoraService: %s\n", e.what());
    return 1;
  }
}
