// The NullBitmap at the start of every record buffer: ceil(F / 8) bytes for F fields;
// field i is bit (i mod 8) of byte (i div 8), least significant bit first; a set bit
// means the field is NULL. Bits beyond the last field are don't-care (a fresh buffer
// has them set).
#pragma once

#include <cstdint>

namespace hdb::NullBitmap {

constexpr std::int32_t Size(std::int32_t fieldCount) { return (fieldCount + 7) / 8; }

inline bool IsNull(const std::uint8_t* record, std::int32_t field) {
  return (record[field >> 3] >> (field & 7)) & 1;
}
inline void SetNull(std::uint8_t* record, std::int32_t field) {
  record[field >> 3] = static_cast<std::uint8_t>(record[field >> 3] | (1u << (field & 7)));
}
inline void ClearNull(std::uint8_t* record, std::int32_t field) {
  record[field >> 3] = static_cast<std::uint8_t>(record[field >> 3] & ~(1u << (field & 7)));
}
// The bits of byte `index` that belong to fields.
constexpr std::uint8_t UsedBits(std::int32_t fieldCount, std::int32_t index) {
  std::int32_t inByte = fieldCount - index * 8;
  return inByte >= 8 ? 0xFF : static_cast<std::uint8_t>((1u << inByte) - 1);
}

}  // namespace hdb::NullBitmap
