#include "dbengine/tables/value_conversion.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>
#include <string_view>

#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/extended_float.h"

namespace hdb {

namespace {

constexpr bool IsNarrowText(std::uint8_t t) { return t == btFixedChar || t == btString || t == btMemo; }
constexpr bool IsWideText(std::uint8_t t) { return t == btFixedWideChar || t == btWideString || t == btWideMemo; }
constexpr bool IsText(std::uint8_t t) { return IsNarrowText(t) || IsWideText(t); }
constexpr bool IsDateOrTime(std::uint8_t t) { return t >= btDate && t <= btDateTime; }

std::size_t WideLength(const void* value) {
  const auto* p = static_cast<const std::uint8_t*>(value);
  std::size_t n = 0;
  while (le::Load<std::uint16_t>(p, 2 * n) != 0) ++n;
  return n;
}

[[noreturn]] void CannotConvert(std::uint8_t from, std::uint8_t to) {
  RaiseHDB(Errors::CannotConvertValue, BaseTypeWord(from), BaseTypeWord(to));
}

// Writes a single-byte text as the text type `to` (zero-terminated).
void PutText(std::string_view text, std::uint8_t to, THDBValueBuffer& out) {
  if (IsNarrowText(to)) {
    std::uint8_t* p = out.Reserve(text.size() + 1);
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = 0;
    return;
  }
  std::uint8_t* p = out.Reserve((text.size() + 1) * 2);
  for (std::size_t i = 0; i < text.size(); ++i)
    le::Store<std::uint16_t>(p, 2 * i, platform::AnsiToUnicode(static_cast<unsigned char>(text[i])));
  le::Store<std::uint16_t>(p, 2 * text.size(), 0);
}

// A short single-byte text of any value that has one (numbers, dates).
std::size_t FormatValue(const void* value, std::uint8_t from, char* buf, std::size_t room) {
  switch (from) {
    case btLogical: {
      std::string_view word = le::Load<std::int16_t>(value, 0) != 0 ? "True" : "False";
      std::memcpy(buf, word.data(), word.size());
      return word.size();
    }
    case btSingle:
    case btDouble:
    case btCurrency: {
      double v = from == btSingle ? le::Load<float>(value, 0) : le::Load<double>(value, 0);
      return static_cast<std::size_t>(std::to_chars(buf, buf + room, v, std::chars_format::general, 15).ptr - buf);
    }
    case btExtended: {
      long double v = ExtendedToLongDouble(value);
      return static_cast<std::size_t>(std::to_chars(buf, buf + room, v, std::chars_format::general, 15).ptr - buf);
    }
    case btDate:
      return FormatDateText(le::Load<std::int32_t>(value, 0), buf);
    case btTime:
      return FormatTimeText(le::Load<std::int32_t>(value, 0), buf);
    case btDateTime:
      return FormatDateTimeText({le::Load<std::int32_t>(value, 0), le::Load<std::int32_t>(value, 4)}, buf);
    default:
      if (IsIntegerBaseType(from))
        return static_cast<std::size_t>(std::to_chars(buf, buf + room, LoadIntegerValue(value, from)).ptr - buf);
      return SIZE_MAX;
  }
}

// The text of a text value, single-byte, in scratch when it must be narrowed first.
std::string_view NarrowText(const void* value, std::uint8_t from, std::string& scratch) {
  if (IsNarrowText(from)) return std::string_view(static_cast<const char*>(value));
  std::size_t n = WideLength(value);
  scratch.resize(n);
  for (std::size_t i = 0; i < n; ++i)
    scratch[i] = static_cast<char>(platform::UnicodeToAnsi(le::Load<std::uint16_t>(value, 2 * i)));
  return scratch;
}

THDBTimeStamp LoadStamp(const void* value, std::uint8_t from) {
  switch (from) {
    case btDate:
      return {le::Load<std::int32_t>(value, 0), 0};
    case btTime:
      return {DateDelta, le::Load<std::int32_t>(value, 0)};
    default:
      return {le::Load<std::int32_t>(value, 0), le::Load<std::int32_t>(value, 4)};
  }
}

void PutStamp(THDBTimeStamp stamp, std::uint8_t to, THDBValueBuffer& out) {
  std::uint8_t* p = out.Reserve(to == btDateTime ? 8 : 4);
  if (to == btDate) {
    le::Store<std::int32_t>(p, 0, stamp.Date);
  } else if (to == btTime) {
    le::Store<std::int32_t>(p, 0, stamp.Time);
  } else {
    le::Store<std::int32_t>(p, 0, stamp.Date);
    le::Store<std::int32_t>(p, 4, stamp.Time);
  }
}

void TextToDateOrTime(const void* value, std::uint8_t from, std::uint8_t to, THDBValueBuffer& out) {
  std::string scratch;
  std::string_view text = NarrowText(value, from, scratch);
  THDBTimeStamp stamp;
  bool ok = false;
  if (to == btDate) {
    ok = ParseDateText(text, stamp.Date);
    if (!ok) RaiseHDB(Errors::InvalidDateText, text);
  } else if (to == btTime) {
    ok = ParseTimeText(text, stamp.Time);
    if (!ok) RaiseHDB(Errors::InvalidTimeText, text);
  } else {
    ok = ParseDateTimeText(text, stamp);
    if (!ok) RaiseHDB(Errors::InvalidDateTimeText, text);
  }
  PutStamp(stamp, to, out);
}

void StoreNumber(std::uint8_t to, long double v, bool exactInteger, std::int64_t i, THDBValueBuffer& out) {
  switch (to) {
    case btSingle:
      le::Store<float>(out.Reserve(4), 0, static_cast<float>(v));
      return;
    case btDouble:
    case btCurrency:
      le::Store<double>(out.Reserve(8), 0, static_cast<double>(v));
      return;
    case btExtended:
      LongDoubleToExtended(v, out.Reserve(ExtendedSize));
      return;
    case btLogical:
      StoreIntegerValue(out.Reserve(2), to, exactInteger ? i != 0 : v != 0);
      return;
    default: {
      std::int64_t n = i;
      if (!exactInteger) {
        long double r = std::nearbyint(v);
        n = std::isfinite(r) && std::fabs(r) < 9.2e18L ? static_cast<std::int64_t>(r) : 0;
      }
      std::int32_t size = MemoryDataSizeOf(to, 0);
      StoreIntegerValue(out.Reserve(static_cast<std::size_t>(size)), to, n);
    }
  }
}

void TextToNumber(const void* value, std::uint8_t from, std::uint8_t to, THDBValueBuffer& out) {
  std::string scratch;
  std::string_view text = NarrowText(value, from, scratch);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (to == btLogical) {
    if (platform::AnsiSameText(text, "TRUE")) return StoreNumber(to, 1, true, 1, out);
    if (platform::AnsiSameText(text, "FALSE")) return StoreNumber(to, 0, true, 0, out);
  }
  std::string_view digits = !text.empty() && text.front() == '+' ? text.substr(1) : text;
  const char* end = digits.data() + digits.size();
  std::int64_t i = 0;
  auto ri = std::from_chars(digits.data(), end, i);
  if (!digits.empty() && ri.ec == std::errc() && ri.ptr == end) return StoreNumber(to, static_cast<long double>(i), true, i, out);
  long double f = 0;
  auto rf = std::from_chars(digits.data(), end, f);
  if (!digits.empty() && rf.ec == std::errc() && rf.ptr == end && std::isfinite(f)) return StoreNumber(to, f, false, 0, out);
  RaiseHDB(Errors::InvalidNumberText, text);
}

}  // namespace

std::int64_t LoadIntegerValue(const void* value, std::uint8_t type) {
  switch (type) {
    case btShortInt:
      return le::Load<std::int8_t>(value, 0);
    case btSmallInt:
      return le::Load<std::int16_t>(value, 0);
    case btInteger:
      return le::Load<std::int32_t>(value, 0);
    case btLargeInt:
      return le::Load<std::int64_t>(value, 0);
    case btByte:
      return le::Load<std::uint8_t>(value, 0);
    case btWord:
      return le::Load<std::uint16_t>(value, 0);
    case btCardinal:
      return le::Load<std::uint32_t>(value, 0);
    case btLogical:
      return le::Load<std::int16_t>(value, 0) != 0 ? 1 : 0;
    default:
      CannotConvert(type, btLargeInt);
  }
}

void StoreIntegerValue(void* dest, std::uint8_t type, std::int64_t value) {
  switch (type) {
    case btShortInt:
    case btByte:
      le::Store<std::uint8_t>(dest, 0, static_cast<std::uint8_t>(value));
      return;
    case btSmallInt:
    case btWord:
      le::Store<std::uint16_t>(dest, 0, static_cast<std::uint16_t>(value));
      return;
    case btLogical:
      le::Store<std::int16_t>(dest, 0, value != 0 ? 1 : 0);
      return;
    case btInteger:
    case btCardinal:
      le::Store<std::uint32_t>(dest, 0, static_cast<std::uint32_t>(value));
      return;
    case btLargeInt:
      le::Store<std::int64_t>(dest, 0, value);
      return;
    default:
      CannotConvert(btLargeInt, type);
  }
}

long double LoadNumericValue(const void* value, std::uint8_t type) {
  switch (type) {
    case btSingle:
      return le::Load<float>(value, 0);
    case btDouble:
    case btCurrency:
      return le::Load<double>(value, 0);
    case btExtended:
      return ExtendedToLongDouble(value);
    default:
      return static_cast<long double>(LoadIntegerValue(value, type));
  }
}

void ConvertValue(const void* value, std::uint8_t from, std::uint8_t to, THDBValueBuffer& out) {
  if (from == to && !IsText(from)) {
    if (IsBlobBaseType(from) || from == btBytes || from == btVarBytes) CannotConvert(from, to);
    std::int32_t size = MemoryDataSizeOf(from, 0);
    std::memcpy(out.Reserve(static_cast<std::size_t>(size)), value, static_cast<std::size_t>(size));
    return;
  }
  if (IsText(to)) {
    if (IsText(from)) {
      if (IsNarrowText(from) == IsNarrowText(to)) {
        std::size_t bytes = IsNarrowText(from) ? std::strlen(static_cast<const char*>(value)) + 1 : (WideLength(value) + 1) * 2;
        std::memcpy(out.Reserve(bytes), value, bytes);
        return;
      }
      if (IsNarrowText(from)) return PutText(static_cast<const char*>(value), to, out);
      std::string scratch;
      return PutText(NarrowText(value, from, scratch), to, out);
    }
    char buf[64];
    std::size_t n = FormatValue(value, from, buf, sizeof buf);
    if (n == SIZE_MAX) CannotConvert(from, to);
    return PutText(std::string_view(buf, n), to, out);
  }
  if (IsDateOrTime(to)) {
    if (IsText(from)) return TextToDateOrTime(value, from, to, out);
    if (IsDateOrTime(from)) return PutStamp(LoadStamp(value, from), to, out);
    if (IsNumericBaseType(from) && from != btLogical) {
      // NaN, infinities and day counts beyond the stored int32 are no date; the bound
      // comes first because an extended value may lie beyond the double range.
      long double number = LoadNumericValue(value, from);
      if (!(std::fabs(number) < 1e10L) || !HasTimeStamp(static_cast<double>(number))) CannotConvert(from, to);
      return PutStamp(DateTimeToTimeStamp(static_cast<double>(number)), to, out);
    }
    CannotConvert(from, to);
  }
  if (IsNumericBaseType(to) && IsText(from)) return TextToNumber(value, from, to, out);
  if (IsNumericBaseType(to) && IsNumericBaseType(from)) {
    bool exactInteger = IsIntegerBaseType(from) || from == btLogical;
    std::int64_t i = exactInteger ? LoadIntegerValue(value, from) : 0;
    long double v = exactInteger ? static_cast<long double>(i) : LoadNumericValue(value, from);
    return StoreNumber(to, v, exactInteger, i, out);
  }
  CannotConvert(from, to);
}

}  // namespace hdb
