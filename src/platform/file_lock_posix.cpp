#include "platform/file_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace calvora::platform {

CrossProcessLock::CrossProcessLock(std::string lockFilePath) : path_(std::move(lockFilePath)) {}

CrossProcessLock::~CrossProcessLock() { Unlock(); }

bool CrossProcessLock::TryLockFor(int timeoutMs) {
  if (fd_ >= 0) return true;
  int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  (void)fchmod(fd, 0666);  // umask must not shut other accounts out
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  fd_ = fd;
  return true;
}

void CrossProcessLock::Unlock() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace calvora::platform
