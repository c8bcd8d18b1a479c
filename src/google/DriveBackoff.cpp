#include "google/DriveBackoff.h"

#include "foundation/JsonText.h"

#include <algorithm>
#include <cmath>

namespace calvora {

bool IsRateLimitAnswer(int Status, const std::string& Body) {
  if (Status == 429) return true;
  if (Status != 403) return false;
  TJson answer;
  if (!TryParseJson(Body, answer) || !answer.is_object()) return false;
  auto error = answer.find("error");
  if (error == answer.end() || !error->is_object()) return false;
  auto errors = error->find("errors");
  if (errors == error->end() || !errors->is_array()) return false;
  for (const TJson& item : *errors) {
    if (!item.is_object()) continue;
    const std::string reason = JsonMemberText(item, "reason");
    if (reason == "rateLimitExceeded" || reason == "userRateLimitExceeded") return true;
  }
  return false;
}

TDriveBackoff::TDriveBackoff(const TClock& Clock) : FClock(Clock), FRandom(std::random_device{}()) {}

std::int64_t TDriveBackoff::NowMs() const { return std::llround(FClock.Now() * 86400000.0); }

void TDriveBackoff::WaitTurn() {
  for (;;) {
    std::int64_t wait = 0;
    {
      std::lock_guard<std::mutex> guard(FLock);
      wait = FUntilMs - NowMs();
    }
    if (wait <= 0) return;
    FClock.SleepMs(wait);
  }
}

void TDriveBackoff::RateLimited() {
  std::lock_guard<std::mutex> guard(FLock);
  const std::int64_t now = NowMs();
  // The answers of requests sent together arrive together: one wait for
  // all of them, not one doubling each.
  if (now < FUntilMs) return;
  const std::int64_t base = std::min(kLongestWaitMs, kFirstWaitMs << std::min(FLevel, 5));
  FLevel = std::min(FLevel + 1, 6);
  std::uniform_int_distribution<std::int64_t> jitter(0, kFirstWaitMs);
  FUntilMs = now + base + jitter(FRandom);
}

void TDriveBackoff::Succeeded() {
  std::lock_guard<std::mutex> guard(FLock);
  if (NowMs() >= FUntilMs) FLevel = 0;
}

}  // namespace calvora
