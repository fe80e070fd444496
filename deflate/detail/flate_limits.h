#pragma once

// Numbers shared by the parts of the compressor, and the one way an internal
// check reports a failure.

#include <cstdint>

#include "deflate/flate_state.h"

namespace vaultwick {

inline constexpr std::uint32_t MIN_MATCH = 3;
inline constexpr std::uint32_t MAX_MATCH = 258;      // longest match; the scan stops there
inline constexpr std::uint32_t WINDOW_HALF = 32768;  // Deflate's distance range
// The window is refilled whenever fewer bytes than this wait: a whole longest
// match, the next hash triple and one byte for the lazy look one step ahead.
inline constexpr std::uint32_t MIN_LOOKAHEAD = MAX_MATCH + MIN_MATCH + 1;  // 262
// No match reaches farther back, so a match never touches the bytes the next
// slide will drop.
inline constexpr std::uint32_t MAX_DIST = WINDOW_HALF - MIN_LOOKAHEAD;  // 32506
// Lazy parse: a 3-byte match farther back than this costs more than literals.
inline constexpr std::uint32_t FAR_SHORT_MATCH = 4096;
inline constexpr std::uint32_t SLIDE_POINT = WINDOW_HALF + MAX_DIST;  // 65274

inline constexpr std::uint32_t HASH_MASK = FLATE_HASH_SIZE - 1;  // 15-bit keys
inline constexpr std::uint32_t HASH_SHIFT = 5;  // three shifts push a byte out of the key

inline constexpr int END_BLOCK = 256;
inline constexpr int MAX_BITS = 15;    // longest literal/length or distance code
inline constexpr int MAX_BL_BITS = 7;  // longest code-length code
inline constexpr int LENGTH_CODES = 29;
inline constexpr std::uint32_t BLOCK_SYMBOL_LIMIT = FLATE_SYMBOL_BUFFER - 1;  // 32767

// Rolls one byte into the three-byte hash key.
constexpr std::uint32_t UPDATE_HASH(std::uint32_t key, std::uint32_t byte) {
  return ((key << HASH_SHIFT) ^ byte) & HASH_MASK;
}

// A failed internal check only records its message; compression goes on to
// the end of the member and the caller treats the member as failed.
inline void record_failure(FlateState* state, const char* text) {
  state->error_text = text;
}

}  // namespace vaultwick
