// The engine CRC: the byte-wise table CRC with the reflected CRC-32 polynomial
// 0xEDB88320, initial value 0 and no final inversion. It guards the password check
// bytes of the security block, the data area of encrypted pages and the rollback
// journal. Long buffers are folded with carry-less multiplication where the processor
// has it; the result is the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hdb {

std::uint32_t EngineCRC(const void* data, std::size_t length, std::uint32_t crc = 0);

}  // namespace hdb
