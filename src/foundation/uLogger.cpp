#include "foundation/uLogger.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "platform/file_io.h"

#include <filesystem>
#include <map>
#include <memory>

namespace calvora {
namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";

// The process-wide logger. Writers take their own reference, so
// FinalizeLog never pulls the object from under a line being written.
std::mutex gLoggerLock;
std::shared_ptr<TLogger> gLogger;

std::shared_ptr<TLogger> CurrentLogger() {
  std::lock_guard<std::mutex> guard(gLoggerLock);
  return gLogger;
}

std::mutex gObserverLock;
std::map<int, TLogObserver>& Observers() {
  static std::map<int, TLogObserver> observers;
  return observers;
}
int gNextObserverId = 1;

void Notify(TLogLevel level, const std::string& message) {
  std::lock_guard<std::mutex> guard(gObserverLock);
  for (auto& [id, observer] : Observers()) {
    try {
      observer(level, message);
    } catch (...) {
    }
  }
}

}  // namespace

const char* LogLevelTag(TLogLevel level) {
  switch (level) {
    case TLogLevel::Debug: return "DEBUG";
    case TLogLevel::Info: return "INFO ";
    case TLogLevel::Warn: return "WARN ";
    case TLogLevel::Error: return "ERROR";
  }
  return "?????";
}

TLogger::TLogger(const std::string& directory, const TClock& clock)
    : clock_(clock),
      logPath_(IncludeTrailingSeparator(directory) + "log.txt"),
      oldLogPath_(IncludeTrailingSeparator(directory) + "log.old.txt") {
  ForceDirectories(directory);
}

void TLogger::WriteBanner() {
  try {
    std::string line = Fmt("=== Uygulama basladi: %s ===\r\n", FormatDateTime(clock_.Now()));
    platform::AppendExclusive(logPath_, line, kBom);
  } catch (...) {
  }
}

void TLogger::RotateIfNeeded() {
  std::error_code ec;
  auto size = std::filesystem::file_size(logPath_, ec);
  if (ec || static_cast<std::int64_t>(size) < kSizeLimit) return;
  std::filesystem::remove(oldLogPath_, ec);
  std::filesystem::rename(logPath_, oldLogPath_, ec);
}

void TLogger::Write(TLogLevel level, const std::string& message) {
  try {
    std::string line = Fmt("%s [%s] %s\r\n", FormatDateTime(clock_.Now()), LogLevelTag(level), message);
    std::lock_guard<std::mutex> guard(lock_);
    RotateIfNeeded();
    platform::AppendExclusive(logPath_, line, kBom);
  } catch (...) {
    // a lost line is the accepted price of never failing the caller
  }
}

void InitLog(const std::string& Directory, const TClock& clock) {
  std::shared_ptr<TLogger> logger;
  try {
    std::lock_guard<std::mutex> guard(gLoggerLock);
    if (gLogger || Directory.empty()) return;
    logger = std::make_shared<TLogger>(Directory, clock);
    gLogger = logger;
  } catch (...) {
    return;
  }
  logger->WriteBanner();
}

void FinalizeLog() {
  std::lock_guard<std::mutex> guard(gLoggerLock);
  gLogger.reset();
}

void LogLine(TLogLevel level, const std::string& Msg) {
  try {
    Notify(level, Msg);
    if (auto logger = CurrentLogger()) logger->Write(level, Msg);
  } catch (...) {
  }
}

void LogDebug(const std::string& Msg) { LogLine(TLogLevel::Debug, Msg); }
void LogInfo(const std::string& Msg) { LogLine(TLogLevel::Info, Msg); }
void LogWarn(const std::string& Msg) { LogLine(TLogLevel::Warn, Msg); }
void LogError(const std::string& Msg) { LogLine(TLogLevel::Error, Msg); }

void LogException(const std::string& Msg, const std::exception* E) {
  if (E == nullptr) {
    LogError(Msg);
    return;
  }
  try {
    LogError(Fmt("%s | %s: %s", Msg, ErrorClassName(*E), E->what()));
  } catch (...) {
  }
}

void LogException(const std::string& Msg, const std::exception& E) { LogException(Msg, &E); }

int AddLogObserver(TLogObserver observer) {
  std::lock_guard<std::mutex> guard(gObserverLock);
  int id = gNextObserverId++;
  Observers()[id] = std::move(observer);
  return id;
}

void RemoveLogObserver(int id) {
  std::lock_guard<std::mutex> guard(gObserverLock);
  Observers().erase(id);
}

}  // namespace calvora
