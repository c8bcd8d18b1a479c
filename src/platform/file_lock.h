#pragma once
// A lock shared by every process of the machine, named by a lock file.
#include <string>

namespace calvora::platform {

class CrossProcessLock {
 public:
  // The lock file is created on first use, open to every local account.
  explicit CrossProcessLock(std::string lockFilePath);
  ~CrossProcessLock();
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

  // Waits up to `timeoutMs` for the lock; false when it did not come.
  bool TryLockFor(int timeoutMs);
  void Unlock();
  bool Held() const { return fd_ >= 0; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace calvora::platform
