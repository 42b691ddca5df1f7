#include "dbengine/cursor/date_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace hdb {

namespace {

enum class Part { Literal, Year4, Year2, Month, Month2, Day, Day2, Hour, Hour2, Minute, Minute2, Second, Second2, Milli };

struct Piece {
  Part What;
  std::string Text;  // literals
};

std::size_t Run(std::string_view f, std::size_t i, char c) {
  std::size_t n = 0;
  while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c) ++n;
  return n;
}

std::vector<Piece> Pieces(std::string_view f) {
  std::vector<Piece> out;
  bool afterHour = false;
  auto literal = [&](std::string text) {
    if (!out.empty() && out.back().What == Part::Literal) out.back().Text += text;
    else out.push_back({Part::Literal, std::move(text)});
  };
  for (std::size_t i = 0; i < f.size();) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    if (f[i] == '"' || f[i] == '\'') {
      const char q = f[i];
      std::size_t j = i + 1;
      while (j < f.size() && f[j] != q) ++j;
      literal(std::string(f.substr(i + 1, j - i - 1)));
      i = j < f.size() ? j + 1 : j;
      continue;
    }
    std::size_t n = Run(f, i, c);
    Part p = Part::Literal;
    switch (c) {
      case 'y': p = n >= 4 ? Part::Year4 : Part::Year2; n = n >= 4 ? 4 : std::min<std::size_t>(n, 2); break;
      case 'm':
        n = std::min<std::size_t>(n, 2);
        p = afterHour ? (n == 2 ? Part::Minute2 : Part::Minute) : (n == 2 ? Part::Month2 : Part::Month);
        break;
      case 'd': n = std::min<std::size_t>(n, 2); p = n == 2 ? Part::Day2 : Part::Day; break;
      case 'h': n = std::min<std::size_t>(n, 2); p = n == 2 ? Part::Hour2 : Part::Hour; break;
      case 'n': n = std::min<std::size_t>(n, 2); p = n == 2 ? Part::Minute2 : Part::Minute; break;
      case 's': n = std::min<std::size_t>(n, 2); p = n == 2 ? Part::Second2 : Part::Second; break;
      case 'z': n = std::min<std::size_t>(n, 3); p = Part::Milli; break;
      default: n = 1; break;
    }
    if (p == Part::Literal) {
      literal(std::string(1, f[i]));
    } else {
      out.push_back({p, {}});
      if (p == Part::Hour || p == Part::Hour2) afterHour = true;
      else if (p != Part::Minute && p != Part::Minute2) afterHour = false;
    }
    i += n;
  }
  return out;
}

}  // namespace

std::string FormatDateTimeBy(std::string_view format, THDBTimeStamp stamp) {
  int year, month, day;
  DecodeDayNumber(stamp.Date, year, month, day);
  const int ms = stamp.Time;
  const int hour = ms / 3600000, minute = ms / 60000 % 60, second = ms / 1000 % 60, milli = ms % 1000;
  std::string out;
  char buf[16];
  auto put = [&](int v, int width) {
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    out += buf;
  };
  for (const Piece& p : Pieces(format)) {
    switch (p.What) {
      case Part::Literal: out += p.Text; break;
      case Part::Year4: put(year, 4); break;
      case Part::Year2: put(year % 100, 2); break;
      case Part::Month: put(month, 1); break;
      case Part::Month2: put(month, 2); break;
      case Part::Day: put(day, 1); break;
      case Part::Day2: put(day, 2); break;
      case Part::Hour: put(hour, 1); break;
      case Part::Hour2: put(hour, 2); break;
      case Part::Minute: put(minute, 1); break;
      case Part::Minute2: put(minute, 2); break;
      case Part::Second: put(second, 1); break;
      case Part::Second2: put(second, 2); break;
      case Part::Milli: put(milli, 3); break;
    }
  }
  return out;
}

bool ParseDateTimeBy(std::string_view format, std::string_view text, THDBTimeStamp& stamp) {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, milli = 0;
  std::size_t i = 0;
  auto number = [&](std::size_t minDigits, std::size_t maxDigits, int& v) {
    std::size_t n = 0;
    v = 0;
    while (n < maxDigits && i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      v = v * 10 + (text[i] - '0');
      ++i;
      ++n;
    }
    return n >= minDigits;
  };
  for (const Piece& p : Pieces(format)) {
    bool ok = true;
    switch (p.What) {
      case Part::Literal:
        ok = text.substr(i, p.Text.size()) == p.Text;
        i += p.Text.size();
        break;
      case Part::Year4: ok = number(4, 4, year); break;
      case Part::Year2: ok = number(2, 2, year); year += 2000; break;
      case Part::Month: ok = number(1, 2, month); break;
      case Part::Month2: ok = number(2, 2, month); break;
      case Part::Day: ok = number(1, 2, day); break;
      case Part::Day2: ok = number(2, 2, day); break;
      case Part::Hour: ok = number(1, 2, hour); break;
      case Part::Hour2: ok = number(2, 2, hour); break;
      case Part::Minute: ok = number(1, 2, minute); break;
      case Part::Minute2: ok = number(2, 2, minute); break;
      case Part::Second: ok = number(1, 2, second); break;
      case Part::Second2: ok = number(2, 2, second); break;
      case Part::Milli: ok = number(1, 3, milli); break;
    }
    if (!ok) return false;
  }
  if (i != text.size() || hour > 23 || minute > 59 || second > 59) return false;
  std::int32_t date;
  if (!TryEncodeDayNumber(year, month, day, date)) return false;
  stamp = {date, EncodeTimeMs(hour, minute, second, milli)};
  return true;
}

}  // namespace hdb
