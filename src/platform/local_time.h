#pragma once
// Conversion between Unix time and the machine's local wall clock.
#include <cstdint>

namespace calvora::platform {

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Seconds since the Unix epoch (UTC) to local wall-clock fields.
CivilTime UnixToLocal(std::int64_t unixSeconds);
// Local wall-clock fields to Unix seconds (the earlier instant in a DST fold).
std::int64_t LocalToUnix(const CivilTime& local);
// Current time: Unix seconds and the fraction of the second in milliseconds.
void UnixNow(std::int64_t& seconds, int& milliseconds);

}  // namespace calvora::platform
