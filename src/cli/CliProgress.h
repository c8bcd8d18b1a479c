#pragma once
// Progress of a run or download on the command line: one bar line redrawn
// in place on a terminal (stage, bytes, rate, time left), plain lines when
// the output goes to a file or pipe.
#include <cstdint>
#include <mutex>
#include <string>

namespace calvora::cli {

// Bytes per second of the current transfer, from the moments (in ms) its
// byte counts were seen; a new total starts a new transfer.
class TRateMeter {
 public:
  void Sample(std::int64_t NowMs, std::int64_t Done, std::int64_t Total);
  // 0 until two different counts were seen.
  double BytesPerSecond() const;

 private:
  std::int64_t FTotal = -1;
  std::int64_t FStartMs = 0;
  std::int64_t FStartDone = 0;
  std::int64_t FLastMs = 0;
  std::int64_t FLastDone = 0;
};

struct TProgressState {
  std::string Stage;          // the activity record's current stage
  std::int64_t Done = 0;      // bytes of the current transfer
  std::int64_t Total = 0;     // 0: no transfer under way
  double BytesPerSecond = 0;
  std::int64_t ElapsedMs = 0; // since the run started
};

// "12.0 MB", "640 B": the transfer sizes of the bar.
std::string ProgressSizeText(std::int64_t Bytes);
// "m:ss", or "h:mm:ss" from an hour on.
std::string DurationText(std::int64_t Seconds);
// One line of at most Columns - 1 characters:
// "Upload [#######.......] 42%  12.0 MB / 28.0 MB  3.1 MB/s  kalan 0:05";
// without a transfer the stage and the time so far.
std::string RenderProgressLine(const TProgressState& State, int Columns);
// The plain line for a stage ("Asama: <stage> - <message>").
std::string StageLine(const std::string& Stage, const std::string& Message);
// The plain line of a transfer: "Aktarim: 12.0 MB / 28.0 MB (42%)".
std::string TransferLine(std::int64_t Done, std::int64_t Total);

}  // namespace calvora::cli

namespace calvora::cli {

struct TCliContext;

// Shows progress on the context's output: the bar redrawn in place on a
// terminal, plain lines otherwise, nothing with --json. Safe to call from
// several threads (a transfer reports on the worker, the stage comes from
// the activity record).
class TProgressDisplay {
 public:
  explicit TProgressDisplay(TCliContext& Context);
  ~TProgressDisplay();
  void Stage(const std::string& Stage, const std::string& Message);
  // A new Total starts a new transfer.
  void Transfer(std::int64_t Done, std::int64_t Total);
  // Redraws the bar (the elapsed time moves on).
  void Tick();
  // Takes the bar off the line before other output.
  void Finish();

 private:
  std::int64_t NowMs() const;
  void DrawLocked();

  TCliContext& FContext;
  std::mutex FLock;
  bool FTerminal = false;
  bool FQuiet = false;
  bool FBarShown = false;
  std::int64_t FStartMs = 0;
  std::string FStage;
  std::string FMessage;
  std::int64_t FDone = 0;
  std::int64_t FTotal = 0;
  std::int64_t FPrintedTotal = -1;
  int FPrintedQuarter = -1;
  TRateMeter FRate;
};

}  // namespace calvora::cli
