#pragma once
// Drive and OAuth state of the emulator.
#include <string>

namespace calvora::devcloud {

class GoogleState {
 public:
  explicit GoogleState(std::string dataDir) : dataDir_(std::move(dataDir)) {}

 private:
  std::string dataDir_;
};

}  // namespace calvora::devcloud
