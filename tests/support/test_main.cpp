// Every test process protects secrets with its own throw-away machine key,
// so tests never touch /etc/calvora.
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  if (std::getenv("CALVORA_MACHINE_KEY_FILE") == nullptr) {
    std::string dir = std::filesystem::temp_directory_path().string() + "/calvora-testkey-" +
                      std::to_string(getpid());
    std::filesystem::create_directories(dir);
    setenv("CALVORA_MACHINE_KEY_FILE", (dir + "/machine.key").c_str(), 1);
  }
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
