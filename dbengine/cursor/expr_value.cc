#include "dbengine/cursor/expr_value.h"

#include <cassert>
#include <cstring>
#include <limits>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/hdb_variant.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

void THDBExprValue::SetFixed(std::uint8_t type, const void* bytes, std::size_t size) {
  assert(size <= sizeof inline_);
  type_ = type;
  isNull_ = false;
  std::memcpy(inline_, bytes, size);
  data_ = inline_;
  length_ = 0;
}

void THDBExprValue::SetInteger(std::int64_t v) {
  // Magnitudes below 2147483647 are 32-bit integers.
  if (v > -2147483647 && v < 2147483647) {
    std::uint8_t raw[4];
    le::Store<std::int32_t>(raw, 0, static_cast<std::int32_t>(v));
    SetFixed(btInteger, raw, 4);
  } else {
    SetLargeInt(v);
  }
}

void THDBExprValue::SetLargeInt(std::int64_t v) {
  std::uint8_t raw[8];
  le::Store<std::int64_t>(raw, 0, v);
  SetFixed(btLargeInt, raw, 8);
}

void THDBExprValue::SetDouble(double v) {
  std::uint8_t raw[8];
  le::Store<double>(raw, 0, v);
  SetFixed(btDouble, raw, 8);
}

void THDBExprValue::SetLogical(bool v) {
  std::uint8_t raw[2];
  le::Store<std::int16_t>(raw, 0, v ? 1 : 0);
  SetFixed(btLogical, raw, 2);
}

void THDBExprValue::SetDate(std::int32_t dayNumber) {
  std::uint8_t raw[4];
  le::Store<std::int32_t>(raw, 0, dayNumber);
  SetFixed(btDate, raw, 4);
}

void THDBExprValue::SetTime(std::int32_t milliseconds) {
  std::uint8_t raw[4];
  le::Store<std::int32_t>(raw, 0, milliseconds);
  SetFixed(btTime, raw, 4);
}

void THDBExprValue::SetDateTime(std::int32_t dayNumber, std::int32_t milliseconds) {
  std::uint8_t raw[8];
  le::Store<std::int32_t>(raw, 0, dayNumber);
  le::Store<std::int32_t>(raw, 4, milliseconds);
  SetFixed(btDateTime, raw, 8);
}

void THDBExprValue::SetTextView(std::uint8_t type, const char* text, std::size_t length) {
  type_ = type;
  isNull_ = false;
  data_ = text;
  length_ = length;
}

void THDBExprValue::SetWideView(std::uint8_t type, const void* units, std::size_t length) {
  type_ = type;
  isNull_ = false;
  data_ = units;
  length_ = length;
}

void THDBExprValue::SetText(std::string_view text, std::uint8_t type) {
  // The source may be this value's own text.
  if (text.data() != text_.data()) text_.assign(text.data(), text.size());
  else text_.resize(text.size());
  SetTextView(type, text_.c_str(), text_.size());
}

void THDBExprValue::SetWideText(std::u16string_view text, std::uint8_t type) {
  if (text.data() != wide_.data()) wide_.assign(text.data(), text.size());
  else wide_.resize(text.size());
  SetWideView(type, wide_.c_str(), wide_.size());
}

char* THDBExprValue::PrepareText(std::size_t n) {
  text_.resize(n);
  return text_.data();
}

void THDBExprValue::SetOwnedLength(std::uint8_t type, std::size_t n) {
  text_.resize(n);
  SetTextView(type, text_.c_str(), n);
}

void THDBExprValue::SetBytes(std::uint8_t type, const std::uint8_t* bytes, std::size_t size) {
  if (bytes != bytes_.data()) bytes_.assign(bytes, bytes + size);
  type_ = type;
  isNull_ = false;
  data_ = bytes_.data();
  length_ = bytes_.size();
}

void THDBExprValue::SetMemoryForm(std::uint8_t type, const void* bytes, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  if (type == btFixedChar || type == btString || type == btMemo) {
    // Up to the terminator, or all of it when there is none.
    const void* end = std::memchr(p, 0, size);
    const std::size_t n = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - p) : size;
    SetText(std::string_view(reinterpret_cast<const char*>(p), n), type);
  } else if (type == btFixedWideChar || type == btWideString || type == btWideMemo) {
    std::u16string units;
    for (std::size_t i = 0; 2 * i + 1 < size; ++i) {
      const char16_t u = le::Load<std::uint16_t>(p, 2 * i);
      if (u == 0) break;
      units.push_back(u);
    }
    SetWideText(units, type);
  } else if (type == btBlob || type == btBytes || type == btVarBytes || size > sizeof inline_) {
    SetBytes(type, p, size);
  } else {
    SetFixed(type, p, size);
  }
}

void THDBExprValue::Assign(const THDBExprValue& other) {
  if (&other == this) return;
  if (other.isNull_) {
    SetNull(other.type_);
    return;
  }
  if (other.IsNarrowText()) {
    SetText(other.Text(), other.type_);
  } else if (other.IsWideText()) {
    std::u16string units(other.length_, u'\0');
    for (std::size_t i = 0; i < other.length_; ++i) units[i] = le::Load<std::uint16_t>(other.data_, 2 * i);
    SetWideText(units, other.type_);
  } else if (other.data_ != other.inline_) {
    SetBytes(other.type_, static_cast<const std::uint8_t*>(other.data_), other.length_);
  } else {
    SetFixed(other.type_, other.inline_, sizeof inline_);
  }
}

void THDBExprValue::AssignVariant(const THDBVariant& v) {
  if (v.IsNull()) {
    SetNull(v.ValueType());
    return;
  }
  SetMemoryForm(v.ValueType(), v.Data(), v.Size());
}

void THDBExprValue::ToVariant(THDBVariant& out) const {
  if (isNull_) {
    out = THDBVariant::Null(type_);
  } else if (IsNarrowText()) {
    out = THDBVariant::FromString(Text(), type_);
  } else if (IsWideText()) {
    std::u16string units(length_, u'\0');
    for (std::size_t i = 0; i < length_; ++i) units[i] = le::Load<std::uint16_t>(data_, 2 * i);
    out = THDBVariant::FromWideString(units, type_);
  } else if (data_ != inline_) {
    out = THDBVariant::FromBytes(type_, data_, length_);
  } else {
    out = THDBVariant::FromBytes(type_, inline_, static_cast<std::size_t>(MemoryDataSizeOf(type_, 0)));
  }
}

std::int64_t THDBExprValue::AsInt64() const {
  if (IsIntegerBaseType(type_) || type_ == btLogical) return LoadIntegerValue(data_, type_);
  return SaturatedInt64(AsDouble());
}

double THDBExprValue::AsDouble() const {
  if (IsNumericBaseType(type_)) return static_cast<double>(LoadNumericValue(data_, type_));
  return 0;
}

std::int64_t SaturatedInt64(double d) {
  if (!(d == d)) return 0;
  // 2^63 is exact as a double; anything at or above it (or below -2^63) saturates.
  if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

}  // namespace hdb
