#pragma once
// Drive's rate limits, met by several clients at once: one answer 429 (or
// 403 with a rate-limit reason) holds back every client that shares the
// back-off, for a wait that doubles with each limit met in a row (with
// random jitter so the clients do not come back in step).
#include "foundation/Clock.h"

#include <cstdint>
#include <mutex>
#include <random>
#include <string>

namespace calvora {

// 429, or 403 whose error reason is "rateLimitExceeded" or
// "userRateLimitExceeded" (403 also means a refused permission or a full
// Drive, which no waiting mends).
bool IsRateLimitAnswer(int Status, const std::string& Body);

class TDriveBackoff {
 public:
  static constexpr std::int64_t kFirstWaitMs = 1000;
  static constexpr std::int64_t kLongestWaitMs = 32000;
  // How often one request is sent while it meets rate limits.
  static constexpr int kAttempts = 5;

  explicit TDriveBackoff(const TClock& Clock);

  // Blocks while a wait is in force.
  void WaitTurn();
  // A rate-limit answer: starts the next, longer wait unless one that began
  // after this request was sent already holds everyone back.
  void RateLimited();
  // An answer that was not a rate limit: the next limit starts short again.
  void Succeeded();

 private:
  std::int64_t NowMs() const;

  const TClock& FClock;
  std::mutex FLock;
  std::int64_t FUntilMs = 0;
  int FLevel = 0;
  std::mt19937 FRandom;
};

}  // namespace calvora
