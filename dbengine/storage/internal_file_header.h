// The 10-byte header at the start of an internal file's first data area, shared by
// transacted and direct internal files, and the chain arithmetic both use: content
// byte i lies at logical position i + 10 of the page chain.
#pragma once

#include <cstdint>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

namespace InternalFileHeaderLayout {
using HeaderSize = le::Field<std::uint8_t, 0>;
using StoredSize = le::Field<std::int32_t, 1>;
using PlainSize = le::Field<std::int32_t, 5>;
using CompressionAlgorithm = le::Field<std::uint8_t, 9>;
inline constexpr std::uint32_t Size = 10;
static_assert(CompressionAlgorithm::end == Size);
}  // namespace InternalFileHeaderLayout

enum THDBCompressionAlgorithm : std::uint8_t {
  caNone = 0,
  caZlib = 1,
  caBzip2 = 2,
  caPPM = 3,
};

// Writes the header of an internal file holding `storedSize` plain bytes into the
// first page's data area.
inline void InitInternalFileHeader(void* data, std::int32_t storedSize) {
  InternalFileHeaderLayout::HeaderSize::Set(data, InternalFileHeaderLayout::Size);
  InternalFileHeaderLayout::StoredSize::Set(data, storedSize);
  InternalFileHeaderLayout::PlainSize::Set(data, 0);
  InternalFileHeaderLayout::CompressionAlgorithm::Set(data, caNone);
}

// Pages a content of `size` bytes needs (at least one).
inline std::int32_t InternalFilePagesNeeded(std::int64_t size, std::uint32_t pageDataSize) {
  const std::int64_t logical = (size < 0 ? 0 : size) + InternalFileHeaderLayout::Size;
  return static_cast<std::int32_t>((logical + pageDataSize - 1) / pageDataSize);
}

}  // namespace hdb
