// THDBExprValue, the value an expression node leaves behind: a base type (the engine's
// type codes, data_types.h), a NULL flag and the value in the record (memory) form of
// that type. Numbers, dates and logical values live inside the object; texts either
// point into the record being evaluated (a field's slot, never copied) or into the
// value's own text storage, which keeps its capacity from one record to the next, so
// evaluating record after record allocates nothing once the longest text was seen.
//
// Narrow texts are Windows-1252 and zero-terminated; wide texts are UTF-16 units in
// little-endian byte order, zero-terminated, possibly at an odd address. Length counts
// characters (units), without the terminator. BLOB values (MIMETOBIN) are bytes.
//
// Owned by its node; used by one thread at a time; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/tables/data_types.h"

namespace hdb {

class THDBVariant;

class THDBExprValue {
 public:
  THDBExprValue() = default;
  THDBExprValue(const THDBExprValue&) = delete;
  THDBExprValue& operator=(const THDBExprValue&) = delete;

  std::uint8_t Type() const { return type_; }
  bool IsNull() const { return isNull_; }
  // The memory form: numbers and dates in Inline, texts wherever they are.
  const void* Data() const { return data_; }
  std::size_t Length() const { return length_; }

  void SetNull(std::uint8_t type) {
    type_ = type;
    isNull_ = true;
    data_ = inline_;
    length_ = 0;
  }
  // Memory-form bytes of a fixed-size type, copied inside.
  void SetFixed(std::uint8_t type, const void* bytes, std::size_t size);
  void SetInteger(std::int64_t v);  // btInteger when it fits 32 bits, else btLargeInt
  void SetLargeInt(std::int64_t v);
  void SetDouble(double v);
  void SetLogical(bool v);
  void SetDate(std::int32_t dayNumber);
  void SetTime(std::int32_t milliseconds);
  void SetDateTime(std::int32_t dayNumber, std::int32_t milliseconds);
  // A narrow text viewed where it is (it must stay there and be zero-terminated).
  void SetTextView(std::uint8_t type, const char* text, std::size_t length);
  // A wide text viewed where it is (units little-endian, zero-terminated).
  void SetWideView(std::uint8_t type, const void* units, std::size_t length);
  // Texts copied into the value's own storage.
  void SetText(std::string_view text, std::uint8_t type = btString);
  void SetWideText(std::u16string_view text, std::uint8_t type = btWideString);
  void SetBytes(std::uint8_t type, const std::uint8_t* bytes, std::size_t size);
  // A value in memory form of any type (texts zero-terminated), copied.
  void SetMemoryForm(std::uint8_t type, const void* bytes, std::size_t size);
  void Assign(const THDBExprValue& other);
  void AssignVariant(const THDBVariant& v);
  void ToVariant(THDBVariant& out) const;

  // The narrow text of a narrow text value.
  std::string_view Text() const { return {static_cast<const char*>(data_), length_}; }
  // Number access: integer and logical types as int64, every numeric type as double.
  std::int64_t AsInt64() const;
  double AsDouble() const;
  bool IsNarrowText() const { return type_ == btFixedChar || type_ == btString || type_ == btMemo; }
  bool IsWideText() const { return type_ == btFixedWideChar || type_ == btWideString || type_ == btWideMemo; }
  bool IsText() const { return IsNarrowText() || IsWideText(); }
  // Room for a narrow text of n characters in the own storage; SetOwnedLength ends it.
  char* PrepareText(std::size_t n);
  void SetOwnedLength(std::uint8_t type, std::size_t n);
  std::string& OwnedText() { return text_; }
  std::u16string& OwnedWide() { return wide_; }

 private:
  std::uint8_t type_ = 0;
  bool isNull_ = true;
  alignas(8) std::uint8_t inline_[16] = {};
  const void* data_ = inline_;
  std::size_t length_ = 0;
  std::string text_;
  std::u16string wide_;
  std::vector<std::uint8_t> bytes_;
};

// Three-valued truth of conditions.
enum class THDBTruth : std::uint8_t { False = 0, True = 1, Unknown = 2 };

// A double as a whole number: truncated toward zero, NaN as 0, and held to the range of
// int64 instead of overflowing.
std::int64_t SaturatedInt64(double d);

}  // namespace hdb
