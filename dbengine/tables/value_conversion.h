// The value conversions of the engine: a value of one base type brought into another,
// as mixed-type comparisons need them (after CommonType) and as the expression layer
// reuses them for its arithmetic. Values are in their record (memory) form; texts of
// the string and memo types are zero-terminated, single-byte ones in Windows-1252.
//
//   numbers -> numbers   integers widen or narrow (two's complement), integers become
//                        floating, floating values round to integers; logical is 0 / 1
//   numbers -> texts     decimal; floating values with up to 15 significant digits;
//                        logical as True / False
//   texts   -> numbers   decimal integers or floating values, blanks around them
//                        ignored; logical also from True / False (any case)
//   texts   -> texts     between single-byte and UTF-16 (characters outside
//                        Windows-1252 become '?')
//   texts  <-> dates     dd.MM.yyyy, hh:mm:ss, "dd.MM.yyyy hh:mm:ss" (date_time_codec.h)
//   numbers -> dates     the number as a date-time value (days since 1899-12-30);
//                        NaN, infinities and numbers whose day number would not fit
//                        the stored int32 cannot convert
//   date <-> date-time   a date is a date-time at midnight, a time one on 1899-12-30
//
// Anything else (BLOB references, byte arrays) raises "Cannot convert...". A text that
// is no date, time or number raises "'...' is not a valid date" and its siblings.
//
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hdb {

// Room for one converted value: numbers, dates and short texts stay inside the object,
// longer texts go to a heap block that is kept for the next value. Not copyable.
class THDBValueBuffer {
 public:
  static constexpr std::size_t InlineSize = 64;

  THDBValueBuffer() = default;
  THDBValueBuffer(const THDBValueBuffer&) = delete;
  THDBValueBuffer& operator=(const THDBValueBuffer&) = delete;

  // A buffer of at least n bytes; its content is undefined.
  std::uint8_t* Reserve(std::size_t n) {
    size_ = n;
    onHeap_ = n > InlineSize;
    if (!onHeap_) return inline_;
    if (heap_.size() < n) heap_.resize(n);
    return heap_.data();
  }
  void SetSize(std::size_t n) { size_ = n; }
  const std::uint8_t* Data() const { return onHeap_ ? heap_.data() : inline_; }
  std::size_t Size() const { return size_; }

 private:
  alignas(8) std::uint8_t inline_[InlineSize];
  std::vector<std::uint8_t> heap_;
  std::size_t size_ = 0;
  bool onHeap_ = false;
};

// Converts value (memory form of base type fromType) into base type toType; the result
// has the memory form of toType (texts zero-terminated, Size() counting the terminator).
void ConvertValue(const void* value, std::uint8_t fromType, std::uint8_t toType, THDBValueBuffer& out);

// Number access for the integer base types (5..11) and logical (0 / 1).
std::int64_t LoadIntegerValue(const void* value, std::uint8_t type);
// Stores the low bytes of value in the form of an integer base type (5..11) or logical.
void StoreIntegerValue(void* dest, std::uint8_t type, std::int64_t value);
// Any numeric base type (5..14, 21, 22) as long double.
long double LoadNumericValue(const void* value, std::uint8_t type);
constexpr bool IsNumericBaseType(std::uint8_t t) { return (t >= 5 && t <= 14) || t == 21 || t == 22; }

}  // namespace hdb
