#include "foundation/uLogger.h"

#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/file_io.h"
#include "platform/journal.h"

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
TLogEcho gEcho = TLogEcho::None;

void ApplyEcho(TLogger& logger, TLogEcho echo) {
  logger.SetEcho(echo, [](const std::string& text) { platform::WriteStandardError(text); });
}

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

// sd-daemon's priorities: err, warning, info, debug.
const char* JournalPriority(TLogLevel level) {
  switch (level) {
    case TLogLevel::Error: return "<3>";
    case TLogLevel::Warn: return "<4>";
    case TLogLevel::Info: return "<6>";
    case TLogLevel::Debug: return "<7>";
  }
  return "<6>";
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

std::string LogEchoText(TLogEcho echo, TLogLevel level, const std::string& stamp, const std::string& message) {
  switch (echo) {
    case TLogEcho::None: return std::string();
    case TLogEcho::StandardError: return Fmt("%s [%s] %s\n", stamp, LogLevelTag(level), message);
    case TLogEcho::Journal: break;
  }
  // The journal makes one entry of every text line; each keeps the level.
  std::string text;
  bool first = true;
  for (std::string line : Split(message, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += JournalPriority(level);
    if (first) text += Fmt("[%s] ", LogLevelTag(level));
    text += line + "\n";
    first = false;
  }
  return text;
}

TLogEcho LogEchoForProcess(bool standardErrorRequested) {
  if (platform::StandardErrorIsJournal()) return TLogEcho::Journal;
  return standardErrorRequested ? TLogEcho::StandardError : TLogEcho::None;
}

TLogger::TLogger(const std::string& directory, const TClock& clock)
    : clock_(clock),
      logPath_(IncludeTrailingSeparator(directory) + "log.txt"),
      oldLogPath_(IncludeTrailingSeparator(directory) + "log.old.txt") {
  ForceDirectories(directory);
}

void TLogger::SetEcho(TLogEcho echo, TLogEchoSink sink) {
  std::lock_guard<std::mutex> guard(lock_);
  echo_ = sink ? echo : TLogEcho::None;
  echoSink_ = std::move(sink);
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
    const std::string stamp = FormatDateTime(clock_.Now());
    std::string line = Fmt("%s [%s] %s\r\n", stamp, LogLevelTag(level), message);
    std::lock_guard<std::mutex> guard(lock_);
    RotateIfNeeded();
    platform::AppendExclusive(logPath_, line, kBom);
    // Also when the file is out of reach: the journal still gets the line.
    if (echo_ != TLogEcho::None) echoSink_(LogEchoText(echo_, level, stamp, message));
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
    ApplyEcho(*logger, gEcho);
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

void SetLogEcho(TLogEcho echo) {
  std::lock_guard<std::mutex> guard(gLoggerLock);
  gEcho = echo;
  if (gLogger) ApplyEcho(*gLogger, echo);
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
