#include "platform/local_time.h"

#include <ctime>
#include <sys/time.h>

namespace calvora::platform {

CivilTime UnixToLocal(std::int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  tm local {};
  localtime_r(&t, &local);
  return CivilTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::int64_t LocalToUnix(const CivilTime& c) {
  tm local {};
  local.tm_year = c.year - 1900;
  local.tm_mon = c.month - 1;
  local.tm_mday = c.day;
  local.tm_hour = c.hour;
  local.tm_min = c.minute;
  local.tm_sec = c.second;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(mktime(&local));
}

void UnixNow(std::int64_t& seconds, int& milliseconds) {
  timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  seconds = ts.tv_sec;
  milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
}

}  // namespace calvora::platform
