#include "foundation/DateTime.h"

#include "platform/local_time.h"

#include <charconv>
#include <cmath>

namespace calvora {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Day number of 1899-12-30 when 0001-01-01 is day 1 (proleptic Gregorian).
constexpr std::int64_t kEpochDayNumber = 693594;
// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpoch = 25569.0;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 0001-01-01 for a civil date (day 1 = 0001-01-01).
std::int64_t DaysFromCivil(int y, int m, int d) {
  std::int64_t n = 0;
  std::int64_t yy = y - 1;
  n = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) n += DaysInMonth(y, i);
  return n + d;
}

void CivilFromDays(std::int64_t n, int& y, int& m, int& d) {
  // Howard Hinnant's algorithm on days since 1970-01-01.
  std::int64_t z = n - (DaysFromCivil(1970, 1, 1)) + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t yr = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yr + (m <= 2 ? 1 : 0));
}

std::int64_t ToMs(TDateTime value) { return std::llround(value * kMsPerDay); }
TDateTime FromMs(std::int64_t ms) { return static_cast<double>(ms) / kMsPerDay; }

bool ReadInt(std::string_view& s, size_t minDigits, size_t maxDigits, int& out) {
  size_t n = 0;
  while (n < s.size() && n < maxDigits && s[n] >= '0' && s[n] <= '9') ++n;
  if (n < minDigits) return false;
  std::from_chars(s.data(), s.data() + n, out);
  s.remove_prefix(n);
  return true;
}

bool Expect(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// minuteDigits: the fewest digits minutes and seconds may have (the fixed
// pattern wants two, the regional time also takes "2:5").
bool ParseTimePart(std::string_view& s, bool secondsRequired, TDateTimeParts& p, size_t minuteDigits = 2) {
  if (!ReadInt(s, 1, 2, p.hour) || !Expect(s, ':') || !ReadInt(s, minuteDigits, 2, p.minute)) return false;
  p.second = 0;
  if (!s.empty() && s.front() == ':') {
    s.remove_prefix(1);
    if (!ReadInt(s, minuteDigits, 2, p.second)) return false;
  } else if (secondsRequired) {
    return false;
  }
  return true;
}

bool ParseFixed(std::string_view text, bool secondsRequired, TDateTime& value) {
  std::string_view s = TrimBlanks(text);
  TDateTimeParts p;
  if (!ReadInt(s, 4, 4, p.year) || !Expect(s, '-') || !ReadInt(s, 1, 2, p.month) ||
      !Expect(s, '-') || !ReadInt(s, 1, 2, p.day))
    return false;
  if (s.empty()) {
    p.hour = p.minute = p.second = 0;
  } else if (!Expect(s, ' ') || !ParseTimePart(s, secondsRequired, p)) {
    return false;
  }
  return s.empty() && TryEncodeDateTime(p, value);
}

}  // namespace

bool TryEncodeDateTime(const TDateTimeParts& p, TDateTime& value) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
    return false;
  std::int64_t days = DaysFromCivil(p.year, p.month, p.day) - kEpochDayNumber;
  std::int64_t ms = ((p.hour * 60LL + p.minute) * 60LL + p.second) * 1000LL + p.millisecond;
  value = static_cast<double>(days) + static_cast<double>(ms) / kMsPerDay;
  return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  TDateTime value = 0;
  TryEncodeDateTime({year, month, day, hour, minute, second, millisecond}, value);
  return value;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  std::int64_t ms = ToMs(value);
  std::int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
  std::int64_t rest = ms - days * kMsPerDay;
  TDateTimeParts p;
  CivilFromDays(days + kEpochDayNumber, p.year, p.month, p.day);
  p.hour = static_cast<int>(rest / 3600000);
  p.minute = static_cast<int>(rest / 60000 % 60);
  p.second = static_cast<int>(rest / 1000 % 60);
  p.millisecond = static_cast<int>(rest % 1000);
  return p;
}

std::string FormatDateTime(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                p.hour, p.minute, p.second);
  return buffer;
}

bool TryParseDateTime(std::string_view text, TDateTime& value) {
  return ParseFixed(text, true, value);
}

std::string FormatRegionalDateTime(TDateTime value) { return FormatDateTime(value); }

bool TryParseRegionalDateTime(std::string_view text, TDateTime& value) {
  return ParseFixed(text, false, value);
}

bool TryParseRegionalTime(std::string_view text, TDateTime& timeOfDay) {
  std::string_view s = TrimBlanks(text);
  TDateTimeParts p;
  if (!ParseTimePart(s, false, p, 1) || !s.empty()) return false;
  TDateTime value = 0;
  if (!TryEncodeDateTime(p, value)) return false;
  timeOfDay = TimeOf(value);
  return true;
}

std::int64_t MillisecondsBetween(TDateTime a, TDateTime b) {
  return std::llabs(ToMs(a) - ToMs(b));
}

std::int64_t MinutesBetween(TDateTime a, TDateTime b) { return MillisecondsBetween(a, b) / 60000; }

TDateTime IncMilliseconds(TDateTime value, std::int64_t ms) { return FromMs(ToMs(value) + ms); }
TDateTime IncSeconds(TDateTime value, std::int64_t s) { return IncMilliseconds(value, s * 1000); }
TDateTime IncMinutes(TDateTime value, std::int64_t m) { return IncMilliseconds(value, m * 60000); }
TDateTime IncHours(TDateTime value, std::int64_t h) { return IncMilliseconds(value, h * 3600000); }
TDateTime IncDays(TDateTime value, std::int64_t d) { return IncMilliseconds(value, d * kMsPerDay); }

TDateTime DateOf(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  return EncodeDateTime(p.year, p.month, p.day);
}

TDateTime TimeOf(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  return FromMs(((p.hour * 60LL + p.minute) * 60LL + p.second) * 1000LL + p.millisecond);
}

int DayOfWeek(TDateTime value) {
  std::int64_t days = static_cast<std::int64_t>(std::floor(DateOf(value) + 0.5));
  // 1899-12-30 was a Saturday (7).
  std::int64_t dow = ((days % 7) + 7 + 6) % 7;  // 0 = Sunday
  return static_cast<int>(dow) + 1;
}

TDateTime UnixToLocalDateTime(double unixSeconds) {
  double whole = std::floor(unixSeconds);
  int ms = static_cast<int>(std::llround((unixSeconds - whole) * 1000.0));
  if (ms >= 1000) {
    whole += 1;
    ms -= 1000;
  }
  platform::CivilTime c = platform::UnixToLocal(static_cast<std::int64_t>(whole));
  return EncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, ms);
}

double LocalDateTimeToUnix(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  platform::CivilTime c{p.year, p.month, p.day, p.hour, p.minute, p.second};
  return static_cast<double>(platform::LocalToUnix(c)) + p.millisecond / 1000.0;
}

TDateTime UtcToLocal(TDateTime utc) {
  double unixSeconds = static_cast<double>(ToMs(utc) - ToMs(kUnixEpoch)) / 1000.0;
  return UnixToLocalDateTime(unixSeconds);
}

bool TryParseRfc3339(std::string_view text, TDateTime& local) {
  std::string_view s = TrimBlanks(text);
  TDateTimeParts p;
  if (!ReadInt(s, 4, 4, p.year) || !Expect(s, '-') || !ReadInt(s, 2, 2, p.month) ||
      !Expect(s, '-') || !ReadInt(s, 2, 2, p.day))
    return false;
  if (s.empty() || (s.front() != 'T' && s.front() != 't' && s.front() != ' ')) return false;
  s.remove_prefix(1);
  if (!ReadInt(s, 2, 2, p.hour) || !Expect(s, ':') || !ReadInt(s, 2, 2, p.minute) ||
      !Expect(s, ':') || !ReadInt(s, 2, 2, p.second))
    return false;
  if (!s.empty() && s.front() == '.') {
    s.remove_prefix(1);
    size_t n = 0;
    int ms = 0, scale = 100;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
      ms += (s[n] - '0') * scale;
      scale /= 10;
      ++n;
    }
    if (n == 0) return false;
    p.millisecond = ms;
    s.remove_prefix(n);
  }
  int offsetMinutes = 0;
  if (s == "Z" || s == "z") {
    s = {};
  } else if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    int sign = s.front() == '-' ? -1 : 1;
    s.remove_prefix(1);
    int oh = 0, om = 0;
    if (!ReadInt(s, 2, 2, oh) || !Expect(s, ':') || !ReadInt(s, 2, 2, om)) return false;
    offsetMinutes = sign * (oh * 60 + om);
  } else {
    return false;
  }
  TDateTime utc = 0;
  if (!s.empty() || !TryEncodeDateTime(p, utc)) return false;
  local = UtcToLocal(IncMinutes(utc, -offsetMinutes));
  return true;
}

}  // namespace calvora
