#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace vaultwick {

// CRC-32 as used by ZIP (reflected polynomial 0xEDB88320). A member starts from 0;
// a null buffer gives 0.
std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The 256-entry table behind crc32Update, built by code at compile time.
const std::array<std::uint32_t, 256>& crc32Table();

}  // namespace vaultwick
