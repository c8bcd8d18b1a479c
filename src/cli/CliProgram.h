#pragma once
// The command-line control program "calvoractl": subcommands over the same
// core, files and texts as the desktop, for machines without a display.
#include "cli/CliConsole.h"
#include "foundation/Env.h"

#include <functional>
#include <string>
#include <vector>

namespace calvora::cli {

// Runs the command line (without the program name); the exit status.
// MakeEnv is called only by subcommands that need the running system.
int RunCalvoraCtl(const std::vector<std::string>& Arguments, TCliConsole& Console,
                  const std::function<TEnv&()>& MakeEnv);
// The program with the process's console and environment.
int CalvoraCtlMain(int argc, char** argv);

}  // namespace calvora::cli
