#include "zip/detail/zip_crc32.h"

namespace vaultwick {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320;

// Entry n is the CRC register after shifting the byte n through eight steps.
constexpr std::array<std::uint32_t, 256> makeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) != 0 ? (value >> 1) ^ kPolynomial : value >> 1;
    }
    table[n] = value;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

}  // namespace

const std::array<std::uint32_t, 256>& crc32Table() {
  return kTable;
}

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr) {
    return 0;
  }
  crc = ~crc;
  for (std::size_t i = 0; i < count; ++i) {
    crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

}  // namespace vaultwick
