#include "cli/CliProgress.h"

#include "cli/CliCommon.h"
#include "foundation/Format.h"

#include <algorithm>

namespace calvora::cli {

void TRateMeter::Sample(std::int64_t NowMs, std::int64_t Done, std::int64_t Total) {
  if (Total != FTotal || Done < FLastDone) {
    FTotal = Total;
    FStartMs = FLastMs = NowMs;
    FStartDone = FLastDone = Done;
    return;
  }
  if (Done != FLastDone) {
    FLastMs = NowMs;
    FLastDone = Done;
  }
}

double TRateMeter::BytesPerSecond() const {
  const std::int64_t ms = FLastMs - FStartMs;
  if (ms <= 0 || FLastDone <= FStartDone) return 0;
  return static_cast<double>(FLastDone - FStartDone) * 1000.0 / static_cast<double>(ms);
}

std::string ProgressSizeText(std::int64_t Bytes) { return CloudSizeText(Bytes); }

std::string DurationText(std::int64_t Seconds) {
  if (Seconds < 0) Seconds = 0;
  const std::int64_t h = Seconds / 3600, m = (Seconds / 60) % 60, s = Seconds % 60;
  return h > 0 ? Fmt("%d:%02d:%02d", h, m, s) : Fmt("%d:%02d", m, s);
}

std::string RenderProgressLine(const TProgressState& State, int Columns) {
  const size_t limit = static_cast<size_t>(std::max(20, Columns) - 1);
  const std::string stage = State.Stage.empty() ? "Hazirlaniyor" : State.Stage;
  std::string line;
  if (State.Total > 0) {
    const std::int64_t done = std::clamp<std::int64_t>(State.Done, 0, State.Total);
    const int percent = static_cast<int>(done * 100 / State.Total);
    std::string tail = Fmt(" %d%%  %s / %s", percent, ProgressSizeText(done), ProgressSizeText(State.Total));
    if (State.BytesPerSecond > 0) {
      tail += "  " + ProgressSizeText(static_cast<std::int64_t>(State.BytesPerSecond)) + "/s";
      const auto left = static_cast<std::int64_t>(static_cast<double>(State.Total - done) / State.BytesPerSecond);
      tail += "  kalan " + DurationText(left);
    }
    // The bar takes what the texts leave, between 10 and 30 cells.
    const size_t fixed = TextWidth(stage) + 3 + TextWidth(tail);
    const size_t cells = std::clamp<size_t>(limit > fixed ? limit - fixed : 10, 10, 30);
    const size_t filled = static_cast<size_t>(done * static_cast<std::int64_t>(cells) / State.Total);
    line = stage + " [" + std::string(filled, '#') + std::string(cells - filled, '.') + "]" + tail;
  } else {
    line = stage + "  " + DurationText(State.ElapsedMs / 1000);
  }
  // Cut at a character boundary.
  size_t width = 0, cut = 0;
  for (; cut < line.size(); ++cut) {
    if ((static_cast<unsigned char>(line[cut]) & 0xC0) != 0x80 && ++width > limit) break;
  }
  return line.substr(0, cut);
}

std::string StageLine(const std::string& Stage, const std::string& Message) {
  return Message.empty() ? "Asama: " + Stage : "Asama: " + Stage + " - " + Message;
}

std::string TransferLine(std::int64_t Done, std::int64_t Total) {
  const int percent = Total > 0 ? static_cast<int>(std::clamp<std::int64_t>(Done, 0, Total) * 100 / Total) : 0;
  return Fmt("Aktarim: %s / %s (%d%%)", ProgressSizeText(Done), ProgressSizeText(Total), percent);
}

}  // namespace calvora::cli

#include <chrono>

namespace calvora::cli {

TProgressDisplay::TProgressDisplay(TCliContext& Context)
    : FContext(Context), FTerminal(Context.Console.OutIsTerminal()), FQuiet(Context.Json) {
  FStartMs = NowMs();
}

TProgressDisplay::~TProgressDisplay() { Finish(); }

std::int64_t TProgressDisplay::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TProgressDisplay::Stage(const std::string& Stage, const std::string& Message) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FQuiet || (Stage == FStage && Message == FMessage)) return;
  FStage = Stage;
  FMessage = Message;
  if (!FTerminal) {
    if (!Stage.empty()) PrintLine(FContext, StageLine(Stage, Message));
    return;
  }
  DrawLocked();
}

void TProgressDisplay::Transfer(std::int64_t Done, std::int64_t Total) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FQuiet) return;
  FDone = Done;
  FTotal = Total;
  FRate.Sample(NowMs(), Done, Total);
  if (!FTerminal) {
    if (Total <= 0) return;
    const int quarter = static_cast<int>(std::clamp<std::int64_t>(Done, 0, Total) * 4 / Total);
    if (Total == FPrintedTotal && quarter == FPrintedQuarter) return;
    FPrintedTotal = Total;
    FPrintedQuarter = quarter;
    PrintLine(FContext, TransferLine(Done, Total));
    return;
  }
  DrawLocked();
}

void TProgressDisplay::Tick() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FQuiet && FTerminal) DrawLocked();
}

void TProgressDisplay::DrawLocked() {
  TProgressState state;
  state.Stage = FStage;
  state.Done = FDone;
  state.Total = FTotal;
  state.BytesPerSecond = FRate.BytesPerSecond();
  state.ElapsedMs = NowMs() - FStartMs;
  // Erase to the end of the line: the new text may be shorter.
  FContext.Console.Out("\r" + RenderProgressLine(state, FContext.Console.Columns()) + "\x1b[K");
  FBarShown = true;
}

void TProgressDisplay::Finish() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FBarShown) return;
  FBarShown = false;
  FContext.Console.Out("\r\x1b[K");
}

}  // namespace calvora::cli
