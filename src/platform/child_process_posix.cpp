#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace calvora::platform {

ForkedChild::ForkedChild(const std::function<void()>& work) {
  pid_ = fork();
  if (pid_ == 0) {
    try {
      work();
    } catch (...) {
    }
    _exit(0);  // no exit handlers: they belong to the parent
  }
}

ForkedChild::~ForkedChild() {
  if (pid_ > 0 && !reaped_) {
    Kill();
    WaitKilled();
  }
}

void ForkedChild::Kill() {
  if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL);
}

bool ForkedChild::WaitKilled() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  reaped_ = true;
  return WIFSIGNALED(status);
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

}  // namespace calvora::platform
