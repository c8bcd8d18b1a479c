#include "platform/process.h"

#include "platform/paths.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

extern char** environ;

namespace calvora::platform {
namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  bool Open() { return pipe2(fd, O_CLOEXEC) == 0; }
  void CloseRead() { if (fd[0] >= 0) { close(fd[0]); fd[0] = -1; } }
  void CloseWrite() { if (fd[1] >= 0) { close(fd[1]); fd[1] = -1; } }
  ~Pipe() { CloseRead(); CloseWrite(); }
};

std::vector<std::string> BuildEnvironment(const ProcessRequest& request) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    bool overridden = false;
    for (const auto& [key, value] : request.environment) overridden |= key == name;
    if (!overridden) env.push_back(std::move(entry));
  }
  for (const auto& [key, value] : request.environment) env.push_back(key + "=" + value);
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& items) {
  std::vector<char*> out;
  for (auto& s : items) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Feeds stdin and drains stdout together, so neither side blocks the other.
void PumpPipes(int inFd, std::string_view input, int outFd, std::string* output) {
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (inFd >= 0 && input.empty()) { close(inFd); inFd = -1; }
  char buffer[65536];
  while (inFd >= 0 || outFd >= 0) {
    pollfd fds[2];
    int n = 0;
    int inIndex = -1, outIndex = -1;
    if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; inIndex = n++; }
    if (outFd >= 0) { fds[n] = {outFd, POLLIN, 0}; outIndex = n++; }
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inIndex >= 0 && fds[inIndex].revents) {
      ssize_t w = write(inFd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 && errno != EINTR && errno != EAGAIN) written = input.size();
      if (written >= input.size()) { close(inFd); inFd = -1; }
    }
    if (outIndex >= 0 && fds[outIndex].revents) {
      ssize_t r = read(outFd, buffer, sizeof buffer);
      if (r > 0 && output) output->append(buffer, static_cast<size_t>(r));
      if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) { close(outFd); outFd = -1; }
    }
  }
  if (inFd >= 0) close(inFd);
  if (outFd >= 0) close(outFd);
}

class PosixProcessRunner final : public ProcessRunner {
 public:
  ProcessResult Run(const ProcessRequest& request) override {
    ProcessResult result;
    Pipe in, out;
    if (!in.Open() || !out.Open()) {
      result.error = LastSystemErrorText();
      return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.fd[0], STDIN_FILENO);
    if (request.captureOutput) {
      posix_spawn_file_actions_adddup2(&actions, out.fd[1], STDOUT_FILENO);
      posix_spawn_file_actions_adddup2(&actions, out.fd[1], STDERR_FILENO);
    }
    if (!request.workingDirectory.empty())
      posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.c_str());
    pid_t pid = 0;
    int rc = Spawn(request, &actions, nullptr, pid);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      result.error = SystemErrorText(rc);
      return result;
    }
    result.started = true;
    in.CloseRead();
    out.CloseWrite();
    int inFd = in.fd[1], outFd = out.fd[0];
    in.fd[1] = out.fd[0] = -1;  // PumpPipes closes them
    if (!request.captureOutput) { close(outFd); outFd = -1; }
    PumpPipes(inFd, request.standardInput, outFd, &result.output);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  bool StartDetached(const ProcessRequest& request, std::string& error) override {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = Spawn(request, &actions, &attr, pid);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
      error = SystemErrorText(rc);
      return false;
    }
    return true;
  }

 private:
  static int Spawn(const ProcessRequest& request, posix_spawn_file_actions_t* actions,
                   posix_spawnattr_t* attr, pid_t& pid) {
    std::string program = FindOnPath(request.program);
    if (program.empty()) return ENOENT;
    std::vector<std::string> argv{request.program};
    argv.insert(argv.end(), request.arguments.begin(), request.arguments.end());
    auto env = BuildEnvironment(request);
    auto cArgv = CStrings(argv);
    auto cEnv = CStrings(env);
    return posix_spawn(&pid, program.c_str(), actions, attr, cArgv.data(), cEnv.data());
  }
};

}  // namespace

ProcessRunner& SystemProcessRunner() {
  static PosixProcessRunner runner;
  return runner;
}

std::string FindOnPath(const std::string& program) {
  if (program.empty()) return std::string();
  if (program.find('/') != std::string::npos) return program;
  std::stringstream path(EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin"));
  std::string dir;
  while (std::getline(path, dir, ':')) {
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::string();
}

}  // namespace calvora::platform
