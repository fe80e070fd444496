#pragma once

// The fixed alphabets of Deflate (RFC 1951, section 3.2.5 and 3.2.7), the
// lookup from match lengths and distances to their codes, and canonical codes
// from code lengths.

#include <cstdint>

#include "deflate/flate_state.h"

namespace vaultwick {

// Extra bits of length codes 257..285.
inline constexpr std::uint8_t len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Extra bits of distance codes 0..29.
inline constexpr std::uint8_t dist_extra[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Extra bits of the code-length symbols: 16 repeats the previous length 3-6
// times, 17 repeats zero 3-10 times, 18 repeats zero 11-138 times.
inline constexpr std::uint8_t lencode_extra[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                   0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the code-length code lengths are sent; rarely used
// lengths come last so the list can be cut short.
inline constexpr std::uint8_t lencode_order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

inline constexpr int REP_3_6 = 16;
inline constexpr int REPZ_3_10 = 17;
inline constexpr int REPZ_11_138 = 18;

// Distance code of d = distance - 1. Short distances have one table entry
// each; from 256 on, every code spans a multiple of 128 distances, so the
// upper half of the table is indexed by d / 128.
inline std::uint32_t d_code(const FlateState* state, std::uint32_t d) {
  return d < 256 ? state->dist_code_of[d] : state->dist_code_of[256 + (d >> 7)];
}

// The low n bits of code in reverse order.
std::uint32_t reverse_bits(std::uint32_t code, int n);

// Gives canonical codes to the leaves 0..max_code from their lengths and the
// counts in len_count.
void gen_codes(FlateState* state, tree_entry* tree, int max_code);

// Builds the length and distance code tables and the two fixed trees.
void build_code_tables(FlateState* state);

}  // namespace vaultwick
