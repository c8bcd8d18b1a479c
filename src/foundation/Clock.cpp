#include "foundation/Clock.h"

#include "platform/local_time.h"

#include <chrono>
#include <thread>

namespace calvora {
namespace {

class SystemClockImpl final : public TClock {
 public:
  TDateTime Now() const override {
    std::int64_t seconds = 0;
    int ms = 0;
    platform::UnixNow(seconds, ms);
    return UnixToLocalDateTime(static_cast<double>(seconds) + ms / 1000.0);
  }
  void SleepMs(std::int64_t ms) const override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace

const TClock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

}  // namespace calvora
