#include "TestSupport.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace calvora::test {

TTempDir::TTempDir() {
  std::string base = std::filesystem::temp_directory_path().string();
  std::string templ = base + "/calvora-test-XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TFakeClock::TFakeClock() : now_(EncodeDateTime(2024, 3, 5, 10, 0, 0)) {}

TDateTime TFakeClock::Now() const {
  std::lock_guard<std::mutex> guard(lock_);
  return now_;
}

void TFakeClock::SleepMs(std::int64_t ms) const {
  std::lock_guard<std::mutex> guard(lock_);
  sleeps_.push_back(ms);
  now_ = IncMilliseconds(now_, ms);
}

void TFakeClock::Set(TDateTime now) {
  std::lock_guard<std::mutex> guard(lock_);
  now_ = now;
}

void TFakeClock::AdvanceSeconds(std::int64_t seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  now_ = IncSeconds(now_, seconds);
}

std::vector<std::int64_t> TFakeClock::Sleeps() const {
  std::lock_guard<std::mutex> guard(lock_);
  return sleeps_;
}

TTestEnv::TTestEnv(TDeploymentSettings deployment, platform::ProcessRunner* processes) {
  ForceDirectories(ProgramDir());
  // The private temporary folder is owner-only, as the programs make theirs.
  mkdir(TempDir().c_str(), 0700);
  TConfigLocations locations;
  locations.ExecutableDir = ProgramDir();
  locations.ProgramData = root_.Path() + "/programdata";
  locations.AppData = root_.Path() + "/appdata";
  locations.Deployment = deployment;
  config_ = std::make_unique<TAppConfig>(locations);
  env_ = std::make_unique<TEnv>(*config_, std::move(deployment), clock_,
                                processes ? *processes : platform::SystemProcessRunner(), ProgramDir(),
                                TempDir());
}

TLogCapture::TLogCapture() {
  id_ = AddLogObserver([this](TLogLevel level, const std::string& message) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.emplace_back(level, message);
  });
}

TLogCapture::~TLogCapture() { RemoveLogObserver(id_); }

std::vector<std::string> TLogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> out;
  for (const auto& [level, message] : lines_) out.push_back(Trim(LogLevelTag(level)) + " " + message);
  return out;
}

bool TLogCapture::Contains(TLogLevel level, const std::string& part) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& [l, message] : lines_)
    if (l == level && message.find(part) != std::string::npos) return true;
  return false;
}

bool TLogCapture::Contains(const std::string& part) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& [l, message] : lines_)
    if (message.find(part) != std::string::npos) return true;
  return false;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::string SourceDir() { return CALVORA_SOURCE_DIR; }
std::string BinaryDir() { return CALVORA_BINARY_DIR; }

}  // namespace calvora::test
