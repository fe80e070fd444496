#pragma once

// zlib's raw inflate, used only as an independent judge of our streams.

#include <cstdint>
#include <optional>
#include <vector>

namespace vaultwick::test {

// The decoded bytes, or nothing when zlib rejects the stream or finds bytes
// after its end.
std::optional<std::vector<std::uint8_t>> zlib_inflate_raw(const std::vector<std::uint8_t>& stream);

}  // namespace vaultwick::test
