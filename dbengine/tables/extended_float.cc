#include "dbengine/tables/extended_float.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

namespace {

using Significand = le::Field<std::uint64_t, 0>;
using SignExponent = le::Field<std::uint16_t, 8>;
static_assert(SignExponent::end == ExtendedSize);

constexpr int Bias = 16383;
constexpr int MaxExponent = 0x7FFF;
constexpr std::uint64_t IntegerBit = std::uint64_t{1} << 63;
constexpr std::uint64_t QuietBit = std::uint64_t{1} << 62;

void Put(void* out, bool negative, int exponent, std::uint64_t significand) {
  Significand::Set(out, significand);
  SignExponent::Set(out, static_cast<std::uint16_t>((negative ? 0x8000 : 0) | (exponent & MaxExponent)));
}

}  // namespace

void DoubleToExtended(double value, void* out) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  bool negative = (bits >> 63) != 0;
  int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent == 0x7FF) {
    Put(out, negative, MaxExponent, fraction == 0 ? IntegerBit : IntegerBit | QuietBit | (fraction << 11));
  } else if (exponent == 0 && fraction == 0) {
    Put(out, negative, 0, 0);
  } else if (exponent == 0) {
    // A subnormal double is a normal extended value: shift its top bit to bit 63.
    int shift = std::countl_zero(fraction);
    Put(out, negative, Bias + 63 - 1074 - shift, fraction << shift);
  } else {
    Put(out, negative, exponent - 1023 + Bias, IntegerBit | (fraction << 11));
  }
}

long double ExtendedToLongDouble(const void* in) {
  std::uint64_t significand = Significand::Get(in);
  std::uint16_t signExponent = SignExponent::Get(in);
  bool negative = (signExponent & 0x8000) != 0;
  int exponent = signExponent & MaxExponent;
  long double magnitude;
  if (exponent == MaxExponent) {
    magnitude = (significand << 1) == 0 ? std::numeric_limits<long double>::infinity()
                                        : std::numeric_limits<long double>::quiet_NaN();
  } else if (significand == 0) {
    magnitude = 0.0L;
  } else {
    // Exponent 0 holds denormals, scaled like exponent 1.
    magnitude = std::ldexp(static_cast<long double>(significand), (exponent == 0 ? 1 : exponent) - Bias - 63);
  }
  return negative ? -magnitude : magnitude;
}

double ExtendedToDouble(const void* in) { return static_cast<double>(ExtendedToLongDouble(in)); }

void LongDoubleToExtended(long double value, void* out) {
  bool negative = std::signbit(value);
  if (std::isnan(value)) return Put(out, negative, MaxExponent, IntegerBit | QuietBit);
  if (std::isinf(value)) return Put(out, negative, MaxExponent, IntegerBit);
  if (value == 0) return Put(out, negative, 0, 0);
  int e = 0;
  long double m = std::frexp(std::fabs(value), &e);  // |value| = m * 2^e, m in [0.5, 1)
  int exponent = e - 1 + Bias;
  long double scaled;
  if (exponent >= 1) {
    scaled = std::nearbyint(std::ldexp(m, 64));
    if (scaled >= 18446744073709551616.0L) {  // rounding carried into bit 64
      scaled = std::ldexp(scaled, -1);
      ++exponent;
    }
  } else {
    // Denormal: significand = |value| / 2^(1 - Bias - 63).
    scaled = std::nearbyint(std::ldexp(m, e + Bias + 62));
    exponent = scaled >= 9223372036854775808.0L ? 1 : 0;
  }
  if (exponent >= MaxExponent) return Put(out, negative, MaxExponent, IntegerBit);
  Put(out, negative, exponent, static_cast<std::uint64_t>(scaled));
}

int CompareExtended(const void* a, const void* b) {
  long double x = ExtendedToLongDouble(a);
  long double y = ExtendedToLongDouble(b);
  if (x < y) return -1;
  if (x > y) return 1;
  return 0;
}

}  // namespace hdb
