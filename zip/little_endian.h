#pragma once

// Integers in archive records are little-endian: these lay them out and read
// them back, whatever the processor's own order.

#include <cstddef>
#include <cstdint>

namespace vaultwick {

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

inline std::uint16_t getU16(const std::uint8_t* record, std::size_t offset) {
  return static_cast<std::uint16_t>(record[offset] | record[offset + 1] << 8);
}

inline std::uint32_t getU32(const std::uint8_t* record, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | record[offset + i];
  }
  return value;
}

}  // namespace vaultwick
