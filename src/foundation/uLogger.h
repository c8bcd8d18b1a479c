#pragma once
// The shared log "log.txt" in the data directory: one time-stamped,
// level-tagged CR LF line per call, rotated once to "log.old.txt" at 2 MiB.
// Logging never fails towards its caller.
#include "foundation/Clock.h"
#include "foundation/Format.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

namespace calvora {

enum class TLogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3 };

// "DEBUG", "INFO ", "WARN ", "ERROR"; "?????" for anything else.
const char* LogLevelTag(TLogLevel level);

// Where each line goes besides the file: nowhere, to standard error as the
// file has it (with a plain line end), or to the system journal through
// standard error, with the level as the journal's priority prefix and
// without the time stamp, which the journal adds itself.
enum class TLogEcho { None, StandardError, Journal };
using TLogEchoSink = std::function<void(const std::string&)>;

// The echoed text of one line; empty for TLogEcho::None. In the journal
// every text line of a message carries the priority.
std::string LogEchoText(TLogEcho echo, TLogLevel level, const std::string& stamp, const std::string& message);
// The journal when standard error is connected to it, else standard error
// when asked for, else none.
TLogEcho LogEchoForProcess(bool standardErrorRequested);

// One log file with its rotation; the process-wide log below is one of
// these, and tests make their own on a folder and clock of their choice.
class TLogger {
 public:
  static constexpr std::int64_t kSizeLimit = 2097152;

  TLogger(const std::string& directory, const TClock& clock);
  // Each line written is also handed to `sink` in the form of `echo`.
  void SetEcho(TLogEcho echo, TLogEchoSink sink);
  void WriteBanner();
  void Write(TLogLevel level, const std::string& message);

  const std::string& LogPath() const { return logPath_; }
  const std::string& OldLogPath() const { return oldLogPath_; }

 private:
  void RotateIfNeeded();
  const TClock& clock_;
  TLogEcho echo_ = TLogEcho::None;
  TLogEchoSink echoSink_;
  std::string logPath_;
  std::string oldLogPath_;
  std::mutex lock_;
};

// Only the first call of a process has an effect (until FinalizeLog).
void InitLog(const std::string& Directory, const TClock& clock = SystemClock());
void FinalizeLog();
// The process-wide log's echo to standard error; kept across InitLog.
void SetLogEcho(TLogEcho echo);

void LogDebug(const std::string& Msg);
void LogInfo(const std::string& Msg);
void LogWarn(const std::string& Msg);
void LogError(const std::string& Msg);
// Msg + " | " + the error's class name + ": " + its text; Msg alone without E.
void LogException(const std::string& Msg, const std::exception* E = nullptr);
void LogException(const std::string& Msg, const std::exception& E);

void LogLine(TLogLevel level, const std::string& Msg);

template <typename... Args>
void LogDebugFmt(std::string_view fmt, const Args&... args) { LogLine(TLogLevel::Debug, Fmt(fmt, args...)); }
template <typename... Args>
void LogInfoFmt(std::string_view fmt, const Args&... args) { LogLine(TLogLevel::Info, Fmt(fmt, args...)); }
template <typename... Args>
void LogWarnFmt(std::string_view fmt, const Args&... args) { LogLine(TLogLevel::Warn, Fmt(fmt, args...)); }
template <typename... Args>
void LogErrorFmt(std::string_view fmt, const Args&... args) { LogLine(TLogLevel::Error, Fmt(fmt, args...)); }

// Every line logged in the process is also handed to the observers (tests
// assert on log lines through this; it works before InitLog too).
using TLogObserver = std::function<void(TLogLevel, const std::string&)>;
int AddLogObserver(TLogObserver observer);
void RemoveLogObserver(int id);

}  // namespace calvora
