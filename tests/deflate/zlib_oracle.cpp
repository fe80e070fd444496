#include "tests/deflate/zlib_oracle.h"

#include <zlib.h>

namespace vaultwick::test {

std::optional<std::vector<std::uint8_t>> zlib_inflate_raw(const std::vector<std::uint8_t>& stream) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> chunk(1 << 16);
  // zlib wants a non-null input pointer even for an empty stream.
  static std::uint8_t empty = 0;
  z.next_in = stream.empty() ? &empty : const_cast<std::uint8_t*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), z.next_out);
    if (rc == Z_BUF_ERROR && z.avail_out != 0) {
      break;  // the stream ended without its final block
    }
    if (rc == Z_BUF_ERROR) {
      rc = Z_OK;
    }
  }
  const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole) {
    return std::nullopt;
  }
  return out;
}

}  // namespace vaultwick::test
