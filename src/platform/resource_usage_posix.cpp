#include "platform/resource_usage.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace calvora::platform {
namespace {

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string key = std::string(field) + ":";
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

}  // namespace

// "VmHWM" belongs to this address space alone; getrusage's ru_maxrss would
// also carry the peak of the parent that started this program.
long PeakResidentKiB() {
  const long hwm = StatusKiB("VmHWM");
  if (hwm >= 0) return hwm;
  rusage usage{};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

ChildPeak RunMeasuringPeak(const std::string& program, const std::vector<std::string>& arguments) {
  ChildPeak result;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  result.helperKiB = StatusKiB("VmRSS");
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    result.error = std::strerror(errno);
    close(ready[0]);
    close(ready[1]);
    return result;
  }
  if (pid == 0) {
    close(ready[0]);
    execvp(program.c_str(), argv.data());
    const int error = errno;
    (void)!write(ready[1], &error, sizeof error);
    _exit(127);
  }
  close(ready[1]);
  int execError = 0;
  ssize_t n;
  while ((n = read(ready[0], &execError, sizeof execError)) < 0 && errno == EINTR) {}
  close(ready[0]);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
  if (n == static_cast<ssize_t>(sizeof execError)) {
    result.error = std::strerror(execError);
    return result;
  }
  result.started = true;
  result.peakKiB = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return result;
}

}  // namespace calvora::platform
