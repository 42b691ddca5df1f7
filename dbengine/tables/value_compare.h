// The engine's one value order. CompareValues orders two values of any base types the
// way every index, constraint check, filter and search of the engine does: NULL before
// every value, numbers numerically, dates by day and then time, texts through the
// engine's collation (dbengine/platform/collation.h) with their trailing blanks
// significant. Values of two different types are first brought to their CommonType by
// the value conversions (value_conversion.h).
//
// Stateless; thread-safe. Comparisons of values of one type allocate nothing;
// mixed-type ones allocate only for converted texts longer than 64 bytes.
#pragma once

#include <cstdint>

namespace hdb {

// The common base type of two base types, 0 when they are incompatible. The table is
// not symmetric (type1 picks the row). comparing = false gives the arithmetic form of
// the expression layer, in which a string meeting a date or time stays a string.
std::uint8_t CommonType(std::uint8_t type1, std::uint8_t type2, bool comparing = true);

// -1, 0 or 1. value1 / value2 are in record (memory) form. length applies to texts:
// -1 compares each text up to its first zero character; n >= 0 compares at most n
// characters of each, a text ending earlier taking part with its own characters only.
// Raises "Cannot compare Incompatible DataTypes" (30044), "Value is Null" (30140) for a
// missing value that is not NULL, "Unknown DataType" (30047), and the collation errors
// 30045 / 30046.
int CompareValues(const void* value1, const void* value2, std::uint8_t type1, std::uint8_t type2, bool isNull1,
                  bool isNull2, std::int32_t length, bool caseInsensitive);

// Both values non-NULL and of one base type: the comparison of step 4, as index keys use it.
int CompareSameType(const void* value1, const void* value2, std::uint8_t type, std::int32_t length,
                    bool caseInsensitive);

}  // namespace hdb
