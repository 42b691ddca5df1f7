#include "dbengine/tables/value_compare.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "dbengine/platform/collation.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

namespace {

// Rows: the first value's base type, columns: the second's; 0 = incompatible.
constexpr std::uint8_t CommonTypes[BaseTypeCount][BaseTypeCount] = {
    { 1,  2,  3,  4,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1, 15, 16, 17,  0,  1,  2,  1,  1,  0,  0},  // 1
    { 2,  2,  2,  4,  2,  2,  2,  2,  2,  2,  2,  2,  2,  2, 15, 16, 17,  0,  2,  2,  2,  2,  0,  0},  // 2
    { 3,  2,  3,  4,  3,  3,  3,  3,  3,  3,  3,  3,  3,  3, 15, 16, 17,  0,  3,  4,  3,  3,  0,  0},  // 3
    { 4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4, 15, 16, 17,  0,  4,  4,  4,  4,  0,  0},  // 4
    { 1,  2,  3,  4,  5,  6,  7,  8,  6, 10, 11, 12, 13, 14, 15, 16, 17,  0,  0,  0,  5, 22,  0,  0},  // 5
    { 1,  2,  3,  4,  6,  6,  7,  8,  6, 10, 11, 12, 13, 14, 15, 16, 17,  0,  0,  0,  6, 22,  0,  0},  // 6
    { 1,  2,  3,  4,  7,  7,  7,  8,  7,  7,  8, 12, 13, 14, 15, 16, 17,  0,  0,  0,  7, 22,  0,  0},  // 7
    { 1,  2,  3,  4,  8,  8,  8,  8,  8,  8,  8, 12, 13, 14, 15, 16, 17,  0,  0,  0,  8, 22,  0,  0},  // 8
    { 1,  2,  3,  4,  6,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16, 17,  0,  0,  0,  9, 22,  0,  0},  // 9
    { 1,  2,  3,  4,  7,  7,  7,  8, 10, 10, 11, 12, 13, 14, 15, 16, 17,  0,  0,  0, 10, 22,  0,  0},  // 10
    { 1,  2,  3,  4,  8,  8,  8,  8, 11, 11, 11, 12, 13, 14, 15, 16, 17,  0,  0,  0, 11, 22,  0,  0},  // 11
    { 1,  2,  3,  4, 12, 12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 16, 17,  0,  0,  0, 12, 22,  0,  0},  // 12
    { 1,  2,  3,  4, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14, 15, 16, 17,  0,  0,  0, 13, 22,  0,  0},  // 13
    { 1,  2,  3,  4, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 15, 16, 17,  0,  0,  0, 14, 22,  0,  0},  // 14
    {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 17, 17,  0,  0,  0,  0,  0,  0,  0},  // 15
    {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17,  0,  0,  0,  0,  0,  0,  0},  // 16
    {17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17,  0,  0,  0,  0,  0,  0,  0},  // 17
    { 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0},  // 18
    { 1,  2,  3,  4,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  2,  0,  0,  0,  0},  // 19
    { 2,  2,  4,  4,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  2,  2,  0,  0,  0,  0},  // 20
    { 1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14,  0,  0,  0,  0,  0,  0, 21,  0,  0,  0},  // 21
    { 1,  2,  3,  4, 22, 22, 22, 22, 22, 22, 22, 12, 13, 14,  0,  0,  0,  0,  0,  0,  0, 22,  0,  0},  // 22
    { 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0},  // 23
    { 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0},  // 24
};

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

std::size_t NarrowLength(const char* p, std::int32_t length) {
  if (length < 0) return std::strlen(p);
  const void* end = std::memchr(p, 0, static_cast<std::size_t>(length));
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - p) : static_cast<std::size_t>(length);
}

// Record slots of wide strings may sit at odd offsets: their units are read through
// the byte-layout helper.
std::size_t WideLength(const void* p, std::int32_t length) {
  std::size_t limit = length < 0 ? SIZE_MAX : static_cast<std::size_t>(length);
  std::size_t n = 0;
  while (n < limit && le::Load<std::uint16_t>(p, 2 * n) != 0) ++n;
  return n;
}

constexpr std::size_t StackUnits = 128;

// The n units at p as an aligned native array: p itself where it is one, else a copy.
const char16_t* WideUnits(const void* p, std::size_t n, char16_t* stack, std::u16string& heap) {
  if constexpr (std::endian::native == std::endian::little) {
    if (reinterpret_cast<std::uintptr_t>(p) % alignof(char16_t) == 0) return static_cast<const char16_t*>(p);
  }
  char16_t* out = stack;
  if (n > StackUnits) {
    heap.resize(n);
    out = heap.data();
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = le::Load<std::uint16_t>(p, 2 * i);
  return out;
}

constexpr bool IsIntegerOrLogical(std::uint8_t t) { return IsIntegerBaseType(t) || t == btLogical; }
constexpr bool IsBinaryFloat(std::uint8_t t) { return t == btDouble || t == btSingle; }

// An integer against a float by their exact values. Near the ends of int64 the integer
// has no double of its own: rounded to one, 2^63 - 1 would equal 2^63.
int CompareIntegerWithFloat(std::int64_t i, double d) {
  constexpr double TwoTo63 = 9223372036854775808.0;
  if (d >= TwoTo63) return -1;
  if (d < -TwoTo63) return 1;
  const double whole = std::trunc(d);
  const auto w = static_cast<std::int64_t>(whole);  // exact: |whole| < 2^63
  if (i != w) return i < w ? -1 : 1;
  return d > whole ? -1 : (d < whole ? 1 : 0);
}

double LoadFloat(const void* value, std::uint8_t type) {
  return type == btSingle ? le::Load<float>(value, 0) : le::Load<double>(value, 0);
}

}  // namespace

std::uint8_t CommonType(std::uint8_t type1, std::uint8_t type2, bool comparing) {
  if (type1 < 1 || type1 > BaseTypeCount || type2 < 1 || type2 > BaseTypeCount) return 0;
  if (!comparing) {
    bool date1 = type1 >= btDate && type1 <= btDateTime, date2 = type2 >= btDate && type2 <= btDateTime;
    if (IsStringBaseType(type1) && date2) return type1;
    if (date1 && IsStringBaseType(type2)) return type2;
  }
  return CommonTypes[type1 - 1][type2 - 1];
}

int CompareSameType(const void* value1, const void* value2, std::uint8_t type, std::int32_t length,
                    bool caseInsensitive) {
  switch (type) {
    case btFixedChar:
    case btString:
    case btBytes: {
      const char* a = static_cast<const char*>(value1);
      const char* b = static_cast<const char*>(value2);
      int status = 0;
      int r = platform::CollateAnsi(a, NarrowLength(a, length), b, NarrowLength(b, length), caseInsensitive, &status);
      if (r == platform::CollationFailed) RaiseHDB(Errors::UnknownCollationResult, status);
      return r;
    }
    case btFixedWideChar:
    case btWideString: {
      std::size_t lenA = WideLength(value1, length), lenB = WideLength(value2, length);
      char16_t stackA[StackUnits], stackB[StackUnits];
      std::u16string heapA, heapB;
      const char16_t* a = WideUnits(value1, lenA, stackA, heapA);
      const char16_t* b = WideUnits(value2, lenB, stackB, heapB);
      int status = 0;
      int r = platform::CollateWide(a, lenA, b, lenB, caseInsensitive, &status);
      if (r == platform::CollationFailed) RaiseHDB(Errors::WideCollationFailed, status);
      return r;
    }
    case btShortInt:
      return Order(le::Load<std::int8_t>(value1, 0), le::Load<std::int8_t>(value2, 0));
    case btSmallInt:
      return Order(le::Load<std::int16_t>(value1, 0), le::Load<std::int16_t>(value2, 0));
    case btInteger:
    case btDate:
    case btTime:
      return Order(le::Load<std::int32_t>(value1, 0), le::Load<std::int32_t>(value2, 0));
    case btLargeInt:
      return Order(le::Load<std::int64_t>(value1, 0), le::Load<std::int64_t>(value2, 0));
    case btByte:
      return Order(le::Load<std::uint8_t>(value1, 0), le::Load<std::uint8_t>(value2, 0));
    case btWord:
      return Order(le::Load<std::uint16_t>(value1, 0), le::Load<std::uint16_t>(value2, 0));
    case btCardinal:
      return Order(le::Load<std::uint32_t>(value1, 0), le::Load<std::uint32_t>(value2, 0));
    case btDateTime: {
      int r = Order(le::Load<std::int32_t>(value1, 0), le::Load<std::int32_t>(value2, 0));
      return r != 0 ? r : Order(le::Load<std::int32_t>(value1, 4), le::Load<std::int32_t>(value2, 4));
    }
    case btSingle:
      return Order(le::Load<float>(value1, 0), le::Load<float>(value2, 0));
    case btDouble:
    case btCurrency:
      return Order(le::Load<double>(value1, 0), le::Load<double>(value2, 0));
    case btExtended:
      return CompareExtended(value1, value2);
    case btLogical: {
      bool a = le::Load<std::int16_t>(value1, 0) != 0, b = le::Load<std::int16_t>(value2, 0) != 0;
      return Order(a, b);
    }
    default:
      RaiseHDB(Errors::CompareUnknownDataType, BaseTypeWord(type));
  }
}

int CompareValues(const void* value1, const void* value2, std::uint8_t type1, std::uint8_t type2, bool isNull1,
                  bool isNull2, std::int32_t length, bool caseInsensitive) {
  if (isNull1 || isNull2) return isNull1 && isNull2 ? 0 : (isNull1 ? -1 : 1);
  if (type1 == type2 && type1 != btMemo && type1 != btWideMemo) {
    if (!value1 || !value2) RaiseHDB(Errors::ValueIsNull);
    return CompareSameType(value1, value2, type1, length, caseInsensitive);
  }
  std::uint8_t common = CommonType(type1, type2, true);
  if (common == 0) RaiseHDB(Errors::IncompatibleDataTypes, BaseTypeWord(type1), BaseTypeWord(type2));
  if (!value1 || !value2) RaiseHDB(Errors::ValueIsNull);
  // Integers of different widths and signedness compare by their values: bringing a
  // negative number to an unsigned common type would wrap it around.
  if (IsIntegerOrLogical(type1) && IsIntegerOrLogical(type2))
    return Order(LoadIntegerValue(value1, type1), LoadIntegerValue(value2, type2));
  if (IsIntegerOrLogical(type1) && IsBinaryFloat(type2) && !std::isnan(LoadFloat(value2, type2)))
    return CompareIntegerWithFloat(LoadIntegerValue(value1, type1), LoadFloat(value2, type2));
  if (IsBinaryFloat(type1) && IsIntegerOrLogical(type2) && !std::isnan(LoadFloat(value1, type1)))
    return -CompareIntegerWithFloat(LoadIntegerValue(value2, type2), LoadFloat(value1, type1));
  THDBValueBuffer converted1, converted2;
  if (type1 != common) {
    ConvertValue(value1, type1, common, converted1);
    value1 = converted1.Data();
  }
  if (type2 != common) {
    ConvertValue(value2, type2, common, converted2);
    value2 = converted2.Data();
  }
  return CompareSameType(value1, value2, common, length, caseInsensitive);
}

}  // namespace hdb
