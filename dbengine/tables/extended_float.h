// The 80-bit extended-precision value of base type 14, stored in the x87 layout:
// a 64-bit significand with an explicit integer bit (bytes 0..7), then the sign and a
// 15-bit exponent biased by 16383 (bytes 8..9), little-endian. The conversions are done
// on the bits, so they give the same results on every processor; long double keeps
// the value exactly wherever it has a significand of at least 64 bits.
#pragma once

#include <cstddef>

namespace hdb {

inline constexpr std::size_t ExtendedSize = 10;

// Exact: every binary64 value has an 80-bit form.
void DoubleToExtended(double value, void* out);
// Rounded to nearest (ties to even), overflow to infinity.
double ExtendedToDouble(const void* in);
long double ExtendedToLongDouble(const void* in);
// Rounded to nearest where long double is wider than 64 bits of significand.
void LongDoubleToExtended(long double value, void* out);
// Numeric order: -1, 0, 1; equal and unordered (NaN) values give 0.
int CompareExtended(const void* a, const void* b);

}  // namespace hdb
