// Compression of internal file contents as zlib streams (deflate, 15-bit window,
// memory level 8, default strategy). The engine writes table definition files this
// way at level 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hdb {

// The zlib stream of data, or nothing when compression fails.
std::optional<std::vector<std::uint8_t>> ZlibCompress(const void* data, std::size_t size, int level);
// The most plain bytes one byte of a deflate stream can stand for.
inline constexpr std::size_t MaxDeflateRatio = 1032;

// Inflates a zlib stream that must give exactly plainSize bytes; on failure the
// text says why. A plainSize above MaxDeflateRatio times the stream's size is refused
// before anything is allocated.
bool ZlibDecompress(const void* data, std::size_t size, std::size_t plainSize, std::vector<std::uint8_t>& out,
                    std::string& error);

}  // namespace hdb
