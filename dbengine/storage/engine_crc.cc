#include "dbengine/storage/engine_crc.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define HDB_CRC_FOLDING 1
#endif

namespace hdb {

namespace {

// zlib's CRC-32 is the same table CRC with the register inverted before and after, so
// inverting around it gives the engine's (and zlib computes several bytes at a step).
std::uint32_t TableCRC(const std::uint8_t* p, std::size_t length, std::uint32_t crc) {
  uLong state = static_cast<uLong>(~crc & 0xFFFFFFFFu);
  while (length > 0) {
    const std::size_t step = std::min<std::size_t>(length, std::numeric_limits<uInt>::max());
    state = ::crc32(state, p, static_cast<uInt>(step));
    p += step;
    length -= step;
  }
  return static_cast<std::uint32_t>(~state & 0xFFFFFFFFu);
}

#ifdef HDB_CRC_FOLDING
// Journal images are pages of several kilobytes, where the table CRC costs about four
// instructions a byte. Carry-less multiplication folds 64 bytes at a step instead:
// each 128-bit lane is multiplied, half by half, by powers of x modulo the polynomial
// and added to the lane 64 bytes on; then the four lanes fold into one, that one into
// 64 and 32 bits, and a Barrett reduction leaves the register. The constants are those
// powers for the reflected polynomial 0xEDB88320; the result is the table CRC's, bit
// for bit (the CRC tests compare the two on every length and alignment up to a few
// hundred bytes).
constexpr long long FoldBy4Low = 0x0154442bd4LL;  // lanes 64 bytes apart
constexpr long long FoldBy4High = 0x01c6e41596LL;
constexpr long long FoldBy1Low = 0x01751997d0LL;  // lanes 16 bytes apart
constexpr long long FoldBy1High = 0x00ccaa009eLL;
constexpr long long Fold64To32 = 0x0163cd6124LL;
constexpr long long Polynomial = 0x01db710641LL;  // the polynomial, reflected, with x^32
constexpr long long BarrettMu = 0x01f7011641LL;
constexpr std::size_t FoldingMinimum = 64;

__attribute__((target("pclmul,sse2"))) inline __m128i FoldLane(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)),
                       next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load16(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// length: at least FoldingMinimum and a multiple of 16.
__attribute__((target("pclmul,sse2"))) std::uint32_t FoldingCRC(const std::uint8_t* p, std::size_t length,
                                                                  std::uint32_t crc) {
  const __m128i by4 = _mm_set_epi64x(FoldBy4High, FoldBy4Low);
  const __m128i by1 = _mm_set_epi64x(FoldBy1High, FoldBy1Low);
  const __m128i to32 = _mm_set_epi64x(0, Fold64To32);
  const __m128i barrett = _mm_set_epi64x(BarrettMu, Polynomial);
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  __m128i x1 = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load16(p + 16);
  __m128i x3 = Load16(p + 32);
  __m128i x4 = Load16(p + 48);
  p += 64;
  length -= 64;
  for (; length >= 64; p += 64, length -= 64) {
    x1 = FoldLane(x1, by4, Load16(p));
    x2 = FoldLane(x2, by4, Load16(p + 16));
    x3 = FoldLane(x3, by4, Load16(p + 32));
    x4 = FoldLane(x4, by4, Load16(p + 48));
  }
  x1 = FoldLane(x1, by1, x2);
  x1 = FoldLane(x1, by1, x3);
  x1 = FoldLane(x1, by1, x4);
  for (; length >= 16; p += 16, length -= 16) x1 = FoldLane(x1, by1, Load16(p));
  // 128 to 64 bits, then 64 to 32.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by1, 0x10));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), to32, 0x00), _mm_srli_si128(x1, 4));
  // Barrett reduction to the 32-bit register.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool HasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return has;
}
#endif

}  // namespace

std::uint32_t EngineCRC(const void* data, std::size_t length, std::uint32_t crc) {
  const auto* p = static_cast<const std::uint8_t*>(data);
#ifdef HDB_CRC_FOLDING
  if (length >= FoldingMinimum && HasCarrylessMultiply()) {
    const std::size_t folded = length & ~std::size_t{15};
    crc = FoldingCRC(p, folded, crc);
    p += folded;
    length -= folded;
  }
#endif
  return TableCRC(p, length, crc);
}

}  // namespace hdb
