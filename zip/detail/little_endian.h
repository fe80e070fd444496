#pragma once

#include <cstddef>
#include <cstdint>

namespace vaultwick::detail {

inline void putU16(std::uint8_t* record, std::size_t offset, std::uint16_t value) {
  record[offset] = static_cast<std::uint8_t>(value);
  record[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::uint8_t* record, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline void putU64(std::uint8_t* record, std::size_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace vaultwick::detail
