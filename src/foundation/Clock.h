#pragma once
// The seam for time: everything that asks "now" or waits goes through a
// TClock, so tests can stand at any moment and never sleep.
#include "foundation/DateTime.h"

#include <cstdint>

namespace calvora {

class TClock {
 public:
  virtual ~TClock() = default;
  // Current local wall-clock time.
  virtual TDateTime Now() const = 0;
  // Blocks the calling thread (retry waits, polling).
  virtual void SleepMs(std::int64_t ms) const = 0;
};

// The machine's clock.
const TClock& SystemClock();

}  // namespace calvora
