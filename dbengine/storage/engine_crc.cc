#include "dbengine/storage/engine_crc.h"

#include <array>

namespace hdb {

namespace {
constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr auto kTable = MakeTable();
}  // namespace

std::uint32_t EngineCRC(const void* data, std::size_t length, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < length; ++i) crc = kTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace hdb
