#include "field_text.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "dbengine/platform/codepage.h"
#include "dbengine/tables/date_time_codec.h"

namespace hdbtool {

namespace {

namespace platform = hdb::platform;

constexpr std::int32_t LastDayNumber = 3652059;  // 9999-12-31
constexpr char HexDigits[] = "0123456789abcdef";

bool IsAscii(std::string_view text) {
  for (char ch : text)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t more;
    std::uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      more = 1, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3, cp = b & 0x07;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    static constexpr std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < smallest[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

void PutDigits(std::string& out, int value, int width) {
  char digits[12];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  for (int pad = width - static_cast<int>(end - digits); pad > 0; --pad) out.push_back('0');
  out.append(digits, end);
}

// A run of 1..maxDigits decimal digits at pos.
bool TakeNumber(std::string_view s, std::size_t& pos, int minDigits, int maxDigits, int& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < s.size() && pos - start < static_cast<std::size_t>(maxDigits) && s[pos] >= '0' && s[pos] <= '9')
    value = value * 10 + (s[pos++] - '0');
  return pos - start >= static_cast<std::size_t>(minDigits);
}

bool Take(std::string_view s, std::size_t& pos, char ch) {
  if (pos < s.size() && s[pos] == ch) {
    ++pos;
    return true;
  }
  return false;
}

bool ParseDateAt(std::string_view s, std::size_t& pos, std::int32_t& dayNumber) {
  int y, m, d;
  return TakeNumber(s, pos, 4, 4, y) && Take(s, pos, '-') && TakeNumber(s, pos, 1, 2, m) && Take(s, pos, '-') &&
         TakeNumber(s, pos, 1, 2, d) && hdb::TryEncodeDayNumber(y, m, d, dayNumber);
}

bool ParseTimeAt(std::string_view s, std::size_t& pos, std::int32_t& ms) {
  int h, mi, sec = 0, milli = 0;
  if (!TakeNumber(s, pos, 1, 2, h) || !Take(s, pos, ':') || !TakeNumber(s, pos, 2, 2, mi)) return false;
  if (Take(s, pos, ':')) {
    if (!TakeNumber(s, pos, 2, 2, sec)) return false;
    if (Take(s, pos, '.')) {
      const std::size_t start = pos;
      if (!TakeNumber(s, pos, 1, 3, milli)) return false;
      for (std::size_t digits = pos - start; digits < 3; ++digits) milli *= 10;
    }
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  ms = hdb::EncodeTimeMs(h, mi, sec, milli);
  return true;
}

bool FormatDate(std::int32_t dayNumber, std::string& out, std::string& reason) {
  if (dayNumber < 1 || dayNumber > LastDayNumber) {
    reason = "holds no date (day number " + std::to_string(dayNumber) + ")";
    return false;
  }
  int y, m, d;
  hdb::DecodeDayNumber(dayNumber, y, m, d);
  PutDigits(out, y, 4);
  out.push_back('-');
  PutDigits(out, m, 2);
  out.push_back('-');
  PutDigits(out, d, 2);
  return true;
}

bool FormatTime(std::int32_t ms, std::string& out, std::string& reason) {
  if (ms < 0 || ms >= hdb::MSecsPerDay) {
    reason = "holds no time of day (" + std::to_string(ms) + " ms)";
    return false;
  }
  const int s = ms / 1000;
  PutDigits(out, s / 3600, 2);
  out.push_back(':');
  PutDigits(out, s / 60 % 60, 2);
  out.push_back(':');
  PutDigits(out, s % 60, 2);
  if (ms % 1000 != 0) {
    out.push_back('.');
    PutDigits(out, ms % 1000, 3);
  }
  return true;
}

template <class T>
void PutFloat(std::string& out, T value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  out.append(text, end);
}

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

std::string Characters(std::size_t n) { return std::to_string(n) + (n == 1 ? " character" : " characters"); }

bool ParseText(const TFieldInfo& field, std::string_view text, TFieldValue& value, std::string& reason) {
  if (!IsUtf8(text)) {
    reason = "is not UTF-8 text";
    return false;
  }
  if (text.find('\0') != std::string_view::npos) {
    reason = "holds a zero character";
    return false;
  }
  const bool wide = field.Kind == TValueKind::WideText || field.Kind == TValueKind::WideMemo;
  std::size_t length;
  if (wide) {
    value.Wide = platform::Utf8ToUtf16(text);
    length = value.Wide.size();
  } else {
    if (IsAscii(text)) {
      value.Bytes.assign(text);
    } else {
      value.Bytes = platform::Utf8ToWin1252(text);
      if (platform::Win1252ToUtf8(value.Bytes) != text) {
        reason = "holds a character that Windows-1252 does not have";
        return false;
      }
    }
    length = value.Bytes.size();
  }
  const bool bounded = field.Kind == TValueKind::Text || field.Kind == TValueKind::WideText;
  if (bounded && length > static_cast<std::size_t>(field.Capacity)) {
    reason = "has " + Characters(length) + ", the field holds " + std::to_string(field.Capacity);
    return false;
  }
  return true;
}

}  // namespace

bool FormatFieldText(const TFieldInfo& field, const TFieldValue& value, std::string& out, std::string& reason) {
  switch (field.Kind) {
    case TValueKind::Text:
    case TValueKind::Memo:
      if (IsAscii(value.Bytes)) {
        out.append(value.Bytes);
      } else {
        out.append(platform::Win1252ToUtf8(value.Bytes));
      }
      return true;
    case TValueKind::WideText:
    case TValueKind::WideMemo:
      out.append(platform::Utf16ToUtf8(value.Wide));
      return true;
    case TValueKind::Integer: {
      char digits[24];
      auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value.Integer);
      out.append(digits, end);
      return true;
    }
    case TValueKind::Float:
      switch (field.FloatWidth) {
        case TFloatWidth::Single:
          PutFloat(out, static_cast<float>(value.Float));
          break;
        case TFloatWidth::Double:
          PutFloat(out, static_cast<double>(value.Float));
          break;
        case TFloatWidth::Extended:
          PutFloat(out, value.Float);
          break;
      }
      return true;
    case TValueKind::Currency:
      PutFloat(out, static_cast<double>(value.Float));
      return true;
    case TValueKind::Logical:
      out.append(value.Integer != 0 ? "True" : "False");
      return true;
    case TValueKind::Date:
      return FormatDate(static_cast<std::int32_t>(value.Integer), out, reason);
    case TValueKind::Time:
      return FormatTime(static_cast<std::int32_t>(value.Integer), out, reason);
    case TValueKind::DateTime:
      if (!FormatDate(static_cast<std::int32_t>(value.Integer), out, reason)) return false;
      out.push_back(' ');
      return FormatTime(value.Time, out, reason);
    case TValueKind::Bytes:
    case TValueKind::Blob:
      for (char ch : value.Bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(HexDigits[b >> 4]);
        out.push_back(HexDigits[b & 15]);
      }
      return true;
  }
  return false;
}

bool ParseFieldText(const TFieldInfo& field, std::string_view text, TFieldValue& value, std::string& reason) {
  value.IsNull = false;
  const std::string_view trimmed = Trim(text);
  switch (field.Kind) {
    case TValueKind::Text:
    case TValueKind::Memo:
    case TValueKind::WideText:
    case TValueKind::WideMemo:
      return ParseText(field, text, value, reason);
    case TValueKind::Integer: {
      std::string_view digits = !trimmed.empty() && trimmed.front() == '+' ? trimmed.substr(1) : trimmed;
      const char* end = digits.data() + digits.size();
      auto [ptr, ec] = std::from_chars(digits.data(), end, value.Integer);
      if (digits.empty() || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        reason = "is no whole number";
        return false;
      }
      if (ec == std::errc::result_out_of_range || value.Integer < field.MinInteger || value.Integer > field.MaxInteger) {
        reason = "is outside " + std::to_string(field.MinInteger) + " to " + std::to_string(field.MaxInteger);
        return false;
      }
      return true;
    }
    case TValueKind::Float:
    case TValueKind::Currency: {
      std::string_view digits = !trimmed.empty() && trimmed.front() == '+' ? trimmed.substr(1) : trimmed;
      const char* end = digits.data() + digits.size();
      const bool extended = field.Kind == TValueKind::Float && field.FloatWidth == TFloatWidth::Extended;
      std::from_chars_result r;
      if (extended) {
        r = std::from_chars(digits.data(), end, value.Float);
      } else {
        double d = 0;
        r = std::from_chars(digits.data(), end, d);
        value.Float = d;
      }
      if (digits.empty() || r.ptr != end || r.ec != std::errc()) {
        reason = r.ec == std::errc::result_out_of_range ? "is out of range" : "is no number";
        return false;
      }
      if (field.Kind == TValueKind::Float && field.FloatWidth == TFloatWidth::Single && std::isfinite(value.Float) &&
          std::fabs(value.Float) > std::numeric_limits<float>::max()) {
        reason = "is out of range for a SINGLE";
        return false;
      }
      return true;
    }
    case TValueKind::Logical: {
      auto same = [&](std::string_view word) {
        if (trimmed.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
          if ((trimmed[i] | 0x20) != word[i]) return false;
        return true;
      };
      if (same("true") || same("false")) {
        value.Integer = same("true") ? 1 : 0;
        return true;
      }
      reason = "is neither True nor False";
      return false;
    }
    case TValueKind::Date: {
      std::size_t pos = 0;
      std::int32_t day;
      if (!ParseDateAt(trimmed, pos, day) || pos != trimmed.size()) {
        reason = "is no date yyyy-mm-dd";
        return false;
      }
      value.Integer = day;
      return true;
    }
    case TValueKind::Time: {
      std::size_t pos = 0;
      std::int32_t ms;
      if (!ParseTimeAt(trimmed, pos, ms) || pos != trimmed.size()) {
        reason = "is no time hh:mm:ss";
        return false;
      }
      value.Integer = ms;
      return true;
    }
    case TValueKind::DateTime: {
      std::size_t pos = 0;
      std::int32_t day, ms = 0;
      bool ok = ParseDateAt(trimmed, pos, day);
      if (ok && pos < trimmed.size()) {
        ok = (Take(trimmed, pos, ' ') || Take(trimmed, pos, 'T'));
        while (ok && Take(trimmed, pos, ' ')) {
        }
        ok = ok && ParseTimeAt(trimmed, pos, ms);
      }
      if (!ok || pos != trimmed.size()) {
        reason = "is no date and time yyyy-mm-dd hh:mm:ss";
        return false;
      }
      value.Integer = day;
      value.Time = ms;
      return true;
    }
    case TValueKind::Bytes:
    case TValueKind::Blob: {
      if (trimmed.size() % 2 != 0) {
        reason = "is no hexadecimal bytes (an odd number of digits)";
        return false;
      }
      value.Bytes.clear();
      for (std::size_t i = 0; i < trimmed.size(); i += 2) {
        const int high = HexValue(trimmed[i]), low = HexValue(trimmed[i + 1]);
        if (high < 0 || low < 0) {
          reason = "is no hexadecimal bytes";
          return false;
        }
        value.Bytes.push_back(static_cast<char>(high << 4 | low));
      }
      if (field.Kind == TValueKind::Bytes) {
        if (value.Bytes.size() > static_cast<std::size_t>(field.Capacity)) {
          reason = "has " + std::to_string(value.Bytes.size()) + " bytes, the field holds " + std::to_string(field.Capacity);
          return false;
        }
        value.Bytes.resize(static_cast<std::size_t>(field.Capacity), '\0');
      }
      return true;
    }
  }
  reason = "has a type the tool cannot read";
  return false;
}

}  // namespace hdbtool
