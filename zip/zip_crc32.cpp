#include "zip/zip_crc32.h"

#include <cstring>

namespace vaultwick {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320;

// Slicing by 8: table k, entry n, is the CRC register after shifting byte n
// through eight steps and then k zero bytes. Eight bytes then cost eight
// independent lookups instead of a chain of eight dependent ones; table 0 is
// the classic byte-at-a-time table.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
  Tables tables{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) != 0 ? (value >> 1) ^ kPolynomial : value >> 1;
    }
    tables[0][n] = value;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::uint32_t n = 0; n < 256; ++n) {
      const std::uint32_t previous = tables[k - 1][n];
      tables[k][n] = tables[0][previous & 0xFF] ^ (previous >> 8);
    }
  }
  return tables;
}

constexpr Tables kTables = makeTables();

}  // namespace

const std::array<std::uint32_t, 256>& crc32Table() {
  return kTables[0];
}

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  static_assert(std::endian::native == std::endian::little);
  if (bytes == nullptr) {
    return 0;
  }
  crc = ~crc;
  for (; count >= 8; count -= 8, bytes += 8) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + 4, 4);
    low ^= crc;
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; count > 0; --count, ++bytes) {
    crc = kTables[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

}  // namespace vaultwick
