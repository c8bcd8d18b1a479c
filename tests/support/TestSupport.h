#pragma once
// Shared test fixtures: temporary folders, a clock that tests move by hand,
// a complete TEnv on a temporary data directory, and log capture.
#include "foundation/Clock.h"
#include "foundation/Env.h"
#include "foundation/uLogger.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace calvora::test {

// A fresh folder below the system temporary folder, removed at the end.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Starts at 2024-03-05 10:00:00; SleepMs advances the time instead of
// waiting and records every wait.
class TFakeClock : public TClock {
 public:
  TFakeClock();
  TDateTime Now() const override;
  void SleepMs(std::int64_t ms) const override;
  void Set(TDateTime now);
  void AdvanceSeconds(std::int64_t seconds);
  std::vector<std::int64_t> Sleeps() const;

 private:
  mutable std::mutex lock_;
  mutable TDateTime now_;
  mutable std::vector<std::int64_t> sleeps_;
};

// A whole environment in a temporary folder: executables' folder
// "<tmp>/bin" (so the data directory is "<tmp>/bin/config"), private temp
// folder "<tmp>/tmp", the fake clock and the system process runner unless
// another is given.
class TTestEnv {
 public:
  explicit TTestEnv(TDeploymentSettings deployment = TDeploymentSettings(),
                    platform::ProcessRunner* processes = nullptr);
  TEnv& Env() { return *env_; }
  TFakeClock& Clock() { return clock_; }
  TAppConfig& Config() { return *config_; }
  std::string DataDir() const { return config_->GetConfigDir(); }
  const std::string& Root() const { return root_.Path(); }
  std::string ProgramDir() const { return root_.Path() + "/bin"; }
  std::string TempDir() const { return root_.Path() + "/tmp"; }

 private:
  TTempDir root_;
  TFakeClock clock_;
  std::unique_ptr<TAppConfig> config_;
  std::unique_ptr<TEnv> env_;
};

// Collects every log line written while it lives.
class TLogCapture {
 public:
  TLogCapture();
  ~TLogCapture();
  std::vector<std::string> Lines() const;  // "LEVEL message", level tag trimmed
  bool Contains(TLogLevel level, const std::string& part) const;
  bool Contains(const std::string& part) const;

 private:
  int id_;
  mutable std::mutex lock_;
  std::vector<std::pair<TLogLevel, std::string>> lines_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// Source tree and build tree of the project.
std::string SourceDir();
std::string BinaryDir();

}  // namespace calvora::test
