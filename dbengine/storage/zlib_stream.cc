#include "dbengine/storage/zlib_stream.h"

#include <zlib.h>

namespace hdb {

std::optional<std::vector<std::uint8_t>> ZlibCompress(const void* data, std::size_t size, int level) {
  uLongf bound = compressBound(static_cast<uLong>(size));
  std::vector<std::uint8_t> out(bound);
  if (compress2(out.data(), &bound, static_cast<const Bytef*>(data), static_cast<uLong>(size), level) != Z_OK)
    return std::nullopt;
  out.resize(bound);
  return out;
}

bool ZlibDecompress(const void* data, std::size_t size, std::size_t plainSize, std::vector<std::uint8_t>& out,
                    std::string& error) {
  // Deflate gives at most 1032 bytes per byte of stream: a larger recorded size is
  // damage, refused before the output buffer is sized from it.
  if (plainSize / MaxDeflateRatio > size) {
    error = "the recorded size is more than the stream can give";
    return false;
  }
  out.assign(plainSize, 0);
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) {
    error = zs.msg ? zs.msg : "inflateInit failed";
    return false;
  }
  zs.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
  zs.avail_in = static_cast<uInt>(size);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&zs, Z_FINISH);
  bool ok = rc == Z_STREAM_END && zs.total_out == plainSize;
  if (!ok) {
    if (zs.msg) {
      error = zs.msg;
    } else if (rc == Z_STREAM_END || rc == Z_BUF_ERROR) {
      error = "the stream does not give the recorded size";
    } else {
      error = zError(rc);
    }
  }
  inflateEnd(&zs);
  return ok;
}

}  // namespace hdb
