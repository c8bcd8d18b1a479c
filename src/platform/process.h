#pragma once
// Starting programs without a console, feeding standard input, collecting
// output and exit codes. One runner serves scripts, the archiver, service
// control and the restart after an update; tests substitute their own.
#include <string>
#include <utility>
#include <vector>

namespace calvora::platform {

struct ProcessRequest {
  std::string program;                 // a path, or a bare name looked up on PATH
  std::vector<std::string> arguments;  // without the program itself
  std::string standardInput;           // written to the child, then closed
  bool captureOutput = false;          // collect stdout+stderr into `output`
  std::string workingDirectory;        // empty: inherit
  std::vector<std::pair<std::string, std::string>> environment;  // added/overridden
};

struct ProcessResult {
  bool started = false;  // false: `error` holds the system's reason
  int exitCode = -1;     // -1 when the child did not exit normally
  std::string output;
  std::string error;
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Runs the program to its end, without a time-out.
  virtual ProcessResult Run(const ProcessRequest& request) = 0;
  // Starts the program in a new session and does not wait for it.
  virtual bool StartDetached(const ProcessRequest& request, std::string& error) = 0;
};

// The runner that starts real processes.
ProcessRunner& SystemProcessRunner();

// Looks a bare program name up on PATH; returns it unchanged when it holds a
// separator, empty when not found.
std::string FindOnPath(const std::string& program);

}  // namespace calvora::platform
