#include "MailTestServers.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace calvora::test {
namespace {

// aiosmtpd is a Debian module; the interpreter on PATH may not see it.
constexpr char kFixturePython[] = "/usr/bin/python3";

}  // namespace

bool TFixtureServer::Start(const std::string& script, std::vector<std::string> arguments, std::string& error) {
  const std::string portFile = folder_.File("port");
  const std::string pidFile = folder_.File("pid");
  const std::string logFile = folder_.File("server.log");
  for (auto& argument : arguments) argument = ReplaceAll(argument, "{dir}", folder_.Path());

  platform::ProcessRequest request;
  request.program = "sh";
  request.arguments = {"-c", "log=$1; shift; \"$@\" >\"$log\" 2>&1 </dev/null &", "sh", logFile, kFixturePython,
                       JoinPath(JoinPath(SourceDir(), "tests/support"), script), "--port-file", portFile,
                       "--pid-file", pidFile};
  request.arguments.insert(request.arguments.end(), arguments.begin(), arguments.end());
  const auto started = platform::SystemProcessRunner().Run(request);
  if (!started.started || started.exitCode != 0) {
    error = "cannot start " + script + ": " + started.error;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (FileExists(portFile) && FileExists(pidFile)) {
      pid_ = Trim(ReadFile(pidFile));
      return TryParseInt(ReadFile(portFile), port_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = script + " did not start: " + (FileExists(logFile) ? ReadFile(logFile) : std::string());
  return false;
}

void TFixtureServer::Stop() {
  if (pid_.empty()) return;
  platform::ProcessRequest request;
  request.program = "kill";
  request.arguments = {"-TERM", pid_};
  request.captureOutput = true;
  platform::SystemProcessRunner().Run(request);
  // The server removes its pid file once it has closed its socket.
  const std::string pidFile = folder_.File("pid");
  for (int i = 0; i < 200 && FileExists(pidFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  pid_.clear();
}

bool TSmtpTestServer::Start(std::vector<std::string> options, std::string& error) {
  options.insert(options.begin(), {"--dir", "{dir}/mail"});
  return TFixtureServer::Start("smtp_server.py", std::move(options), error);
}

std::vector<TJson> TSmtpTestServer::Messages() const {
  std::vector<std::string> names;
  const std::string folder = JoinPath(Folder(), "mail");
  if (DirectoryExists(folder)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (EndsWith(name, ".json")) names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  std::vector<TJson> messages;
  for (const auto& name : names) {
    TJson message;
    if (TryParseJson(ReadFile(JoinPath(folder, name)), message)) messages.push_back(message);
  }
  return messages;
}

}  // namespace calvora::test
