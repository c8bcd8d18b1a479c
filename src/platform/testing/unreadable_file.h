#pragma once
// Test support only (linked into test programs, never into the products):
// makes a file unreadable for the calling thread, as a file another program
// holds exclusively would be.
#include <string>

namespace calvora::platform::testing {

// Gives the file to another user with no access for others and drops the
// calling thread's permission overrides for the life of the object (an
// administrator reads anything otherwise). Programs the thread starts get
// the overrides back. Needs administrator rights: `Active()` tells.
class ScopedUnreadableFile {
 public:
  explicit ScopedUnreadableFile(std::string path);
  ~ScopedUnreadableFile();
  ScopedUnreadableFile(const ScopedUnreadableFile&) = delete;
  ScopedUnreadableFile& operator=(const ScopedUnreadableFile&) = delete;
  bool Active() const { return active_; }

 private:
  std::string path_;
  bool active_ = false;
  unsigned savedEffective_[2] = {0, 0};
};

// The calling process runs with administrator rights.
bool RunningAsAdministrator();

}  // namespace calvora::platform::testing
