// Every test process protects secrets with its own throw-away machine key,
// so tests never touch /etc/calvora. The key's folder goes when the process
// that made it ends (forked children leave it alone).
#include "platform/child_process.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string gKeyDir;
int gKeyOwner = 0;

void RemoveKeyDir() {
  if (gKeyDir.empty() || calvora::platform::CurrentProcessId() != gKeyOwner) return;
  std::error_code ec;
  std::filesystem::remove_all(gKeyDir, ec);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("CALVORA_MACHINE_KEY_FILE") == nullptr) {
    gKeyOwner = calvora::platform::CurrentProcessId();
    gKeyDir = std::filesystem::temp_directory_path().string() + "/calvora-testkey-" + std::to_string(gKeyOwner);
    std::filesystem::create_directories(gKeyDir);
    setenv("CALVORA_MACHINE_KEY_FILE", (gKeyDir + "/machine.key").c_str(), 1);
    std::atexit(RemoveKeyDir);
  }
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
