#include "dbengine/storage/engine_crc.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace hdb {

// zlib's CRC-32 is the same table CRC with the register inverted before and after, so
// inverting around it gives the engine's (and zlib computes several bytes at a step).
std::uint32_t EngineCRC(const void* data, std::size_t length, std::uint32_t crc) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong state = static_cast<uLong>(~crc & 0xFFFFFFFFu);
  while (length > 0) {
    const std::size_t step = std::min<std::size_t>(length, std::numeric_limits<uInt>::max());
    state = ::crc32(state, p, static_cast<uInt>(step));
    p += step;
    length -= step;
  }
  return static_cast<std::uint32_t>(~state & 0xFFFFFFFFu);
}

}  // namespace hdb
