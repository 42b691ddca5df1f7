#include "dbengine/platform/guid.h"

#include <cstdint>
#include <random>

namespace hdb::platform {

std::string NewGuidText() {
  thread_local std::random_device source;
  std::uint8_t b[16];
  for (int i = 0; i < 16; i += 4) {
    std::uint32_t r = source();
    for (int k = 0; k < 4; ++k) b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  b[7] = static_cast<std::uint8_t>((b[7] & 0x0F) | 0x40);  // version 4 (Data3 is little-endian)
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  // Data1, Data2 and Data3 are little-endian integers printed most significant first;
  // Data4 is printed byte by byte.
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char hex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += hex[b[order[i]] >> 4];
    text += hex[b[order[i]] & 0x0F];
  }
  text += '}';
  return text;
}

}  // namespace hdb::platform
