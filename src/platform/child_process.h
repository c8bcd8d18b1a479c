#pragma once
// A copy of the running process that does one piece of work and can be
// killed without warning: how crash-safety is shown (a save cut off at any
// moment) and how two programs sharing files are played in one test binary.
#include <functional>

namespace calvora::platform {

class ForkedChild {
 public:
  // Runs `work` in a forked child, which ends when `work` returns or throws.
  explicit ForkedChild(const std::function<void()>& work);
  ~ForkedChild();  // kills and reaps a child still running
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  bool Started() const { return pid_ > 0; }
  // Ends the child at once (no clean-up of any kind runs in it).
  void Kill();
  // Waits for the end; true when the child was killed by a signal.
  bool WaitKilled();

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

int CurrentProcessId();

}  // namespace calvora::platform
