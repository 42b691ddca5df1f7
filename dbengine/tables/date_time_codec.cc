#include "dbengine/tables/date_time_codec.h"

#include <cassert>
#include <cmath>
#include <cstdint>

namespace hdb {

namespace {

constexpr bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int DaysInMonth(int y, int m) {
  constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

std::size_t PutDigits(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return static_cast<std::size_t>(width);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads 1..maxDigits digits at pos; false when there is none.
bool ReadNumber(std::string_view s, std::size_t& pos, int minDigits, int maxDigits, int& value) {
  int n = 0;
  value = 0;
  while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
    value = value * 10 + (s[pos++] - '0');
    ++n;
  }
  return n >= minDigits;
}

bool Expect(std::string_view s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

bool ParseDateAt(std::string_view s, std::size_t& pos, std::int32_t& dayNumber) {
  int d, m, y;
  if (!ReadNumber(s, pos, 1, 2, d) || !Expect(s, pos, '.') || !ReadNumber(s, pos, 1, 2, m) || !Expect(s, pos, '.') ||
      !ReadNumber(s, pos, 4, 4, y))
    return false;
  return TryEncodeDayNumber(y, m, d, dayNumber);
}

bool ParseTimeAt(std::string_view s, std::size_t& pos, std::int32_t& ms) {
  int h, mi, sec = 0, milli = 0;
  if (!ReadNumber(s, pos, 1, 2, h) || !Expect(s, pos, ':') || !ReadNumber(s, pos, 2, 2, mi)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!ReadNumber(s, pos, 2, 2, sec)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      std::size_t start = pos;
      if (!ReadNumber(s, pos, 1, 3, milli)) return false;
      for (std::size_t n = pos - start; n < 3; ++n) milli *= 10;
    }
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  ms = EncodeTimeMs(h, mi, sec, milli);
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool TryEncodeDayNumber(int year, int month, int day, std::int32_t& dayNumber) {
  if (!IsValidDate(year, month, day)) return false;
  int y = year - 1;
  std::int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  dayNumber = days + day;
  return true;
}

std::int32_t EncodeDayNumber(int year, int month, int day) {
  std::int32_t n = 0;
  bool ok = TryEncodeDayNumber(year, month, day, n);
  assert(ok);
  (void)ok;
  return n;
}

void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < 1) {
    year = month = day = 0;
    return;
  }
  constexpr std::int32_t D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
  std::int32_t t = dayNumber - 1;
  int y = 1 + 400 * (t / D400);
  t %= D400;
  std::int32_t i = t / D100;
  std::int32_t d = t % D100;
  if (i == 4) {
    --i;
    d += D100;
  }
  y += i * 100;
  y += 4 * (d / D4);
  d %= D4;
  i = d / D1;
  d %= D1;
  if (i == 4) {
    --i;
    d += D1;
  }
  y += i;
  int m = 1;
  while (d >= DaysInMonth(y, m)) d -= DaysInMonth(y, m++);
  year = y;
  month = m;
  day = d + 1;
}

std::int32_t EncodeTimeMs(int hour, int minute, int second, int millisecond) {
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

bool HasTimeStamp(double dateTime) {
  // trunc(dateTime) + 693594, plus the day a rounded-up time may add, within int32.
  constexpr double below = static_cast<double>(INT32_MIN) - DateDelta - 1;
  constexpr double above = static_cast<double>(INT32_MAX) - DateDelta;
  return std::isfinite(dateTime) && dateTime > below && dateTime < above;
}

THDBTimeStamp DateTimeToTimeStamp(double dateTime) {
  assert(HasTimeStamp(dateTime));
  double whole = std::trunc(dateTime);
  std::int64_t date = static_cast<std::int64_t>(whole) + DateDelta;
  double ms = std::round(std::fabs(dateTime - whole) * MSecsPerDay);
  THDBTimeStamp stamp;
  stamp.Time = static_cast<std::int32_t>(ms);
  if (stamp.Time >= MSecsPerDay) {
    stamp.Time -= MSecsPerDay;
    date += 1;
  }
  stamp.Date = static_cast<std::int32_t>(date);
  return stamp;
}

double TimeStampToDateTime(THDBTimeStamp stamp) {
  double days = static_cast<double>(stamp.Date) - DateDelta;
  double fraction = static_cast<double>(stamp.Time) / MSecsPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

std::size_t FormatDateText(std::int32_t dayNumber, char* out) {
  int y, m, d;
  DecodeDayNumber(dayNumber, y, m, d);
  std::size_t n = PutDigits(out, d, 2);
  out[n++] = '.';
  n += PutDigits(out + n, m, 2);
  out[n++] = '.';
  n += PutDigits(out + n, y, 4);
  return n;
}

std::size_t FormatTimeText(std::int32_t milliseconds, char* out) {
  std::int32_t s = milliseconds / 1000;
  std::size_t n = PutDigits(out, s / 3600 % 100, 2);
  out[n++] = ':';
  n += PutDigits(out + n, s / 60 % 60, 2);
  out[n++] = ':';
  n += PutDigits(out + n, s % 60, 2);
  return n;
}

std::size_t FormatDateTimeText(THDBTimeStamp stamp, char* out) {
  std::size_t n = FormatDateText(stamp.Date, out);
  if (stamp.Time != 0) {
    out[n++] = ' ';
    n += FormatTimeText(stamp.Time, out + n);
  }
  return n;
}

std::string DateText(std::int32_t dayNumber) {
  char buf[DateTimeTextRoom];
  return std::string(buf, FormatDateText(dayNumber, buf));
}

bool ParseDateText(std::string_view text, std::int32_t& dayNumber) {
  std::string_view s = Trim(text);
  std::size_t pos = 0;
  std::int32_t n;
  if (!ParseDateAt(s, pos, n) || pos != s.size()) return false;
  dayNumber = n;
  return true;
}

bool ParseTimeText(std::string_view text, std::int32_t& milliseconds) {
  std::string_view s = Trim(text);
  std::size_t pos = 0;
  std::int32_t ms;
  if (!ParseTimeAt(s, pos, ms) || pos != s.size()) return false;
  milliseconds = ms;
  return true;
}

bool ParseDateTimeText(std::string_view text, THDBTimeStamp& stamp) {
  std::string_view s = Trim(text);
  THDBTimeStamp result;
  std::size_t pos = 0;
  if (ParseDateAt(s, pos, result.Date)) {
    if (pos < s.size()) {
      if (s[pos] != ' ' && s[pos] != '\t') return false;
      while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
      if (!ParseTimeAt(s, pos, result.Time)) return false;
    }
  } else {
    pos = 0;
    if (!ParseTimeAt(s, pos, result.Time)) return false;
  }
  if (pos != s.size()) return false;
  stamp = result;
  return true;
}

}  // namespace hdb
