#pragma once
// Account-directory state of the emulator: sign-in users and the realtime
// database tree.
#include <string>

namespace calvora::devcloud {

class AccountDirectoryState {
 public:
  explicit AccountDirectoryState(std::string dataDir) : dataDir_(std::move(dataDir)) {}

 private:
  std::string dataDir_;
};

}  // namespace calvora::devcloud
