#pragma once
// Moments as the whole system keeps them: local wall-clock time as a day
// count since 1899-12-30 with the time of day as fraction; 0 means unset.
#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

using TDateTime = double;

struct TDateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// False for an impossible date or time.
bool TryEncodeDateTime(const TDateTimeParts& parts, TDateTime& value);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int millisecond = 0);
TDateTimeParts DecodeDateTime(TDateTime value);

// "yyyy-mm-dd hh:nn:ss" with fixed separators.
std::string FormatDateTime(TDateTime value);
// Reads exactly the fixed pattern above (surrounding blanks allowed).
bool TryParseDateTime(std::string_view text, TDateTime& value);
// The machine's regional date-time form. On this platform the regional form
// is the fixed pattern, also accepted without seconds.
std::string FormatRegionalDateTime(TDateTime value);
bool TryParseRegionalDateTime(std::string_view text, TDateTime& value);
// Regional time of day: hours and minutes separated by ":", seconds
// optional, each with one or two digits ("2:5" is 02:05); the fraction of a day.
bool TryParseRegionalTime(std::string_view text, TDateTime& timeOfDay);

// Whole milliseconds / minutes of the absolute difference (order-free,
// truncated towards zero).
std::int64_t MillisecondsBetween(TDateTime a, TDateTime b);
std::int64_t MinutesBetween(TDateTime a, TDateTime b);

TDateTime IncMilliseconds(TDateTime value, std::int64_t ms);
TDateTime IncSeconds(TDateTime value, std::int64_t seconds);
TDateTime IncMinutes(TDateTime value, std::int64_t minutes);
TDateTime IncHours(TDateTime value, std::int64_t hours);
TDateTime IncDays(TDateTime value, std::int64_t days);

TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// Unix time (UTC seconds with fraction) to and from the local wall clock.
TDateTime UnixToLocalDateTime(double unixSeconds);
double LocalDateTimeToUnix(TDateTime value);
// A UTC wall-clock moment to local.
TDateTime UtcToLocal(TDateTime utc);
// RFC 3339 text ("2024-03-05T01:02:03.456Z", offsets allowed) to local time.
bool TryParseRfc3339(std::string_view text, TDateTime& local);

}  // namespace calvora
