#pragma once

// Block coder: buffers the literals and matches of one block with their
// frequencies and codes the block as stored, fixed or dynamic Huffman.

#include <cstdint>

#include "deflate/detail/code_tables.h"
#include "deflate/detail/flate_limits.h"
#include "deflate/flate_state.h"

namespace vaultwick {

// Builds the code tables and fixed trees and starts the first block.
void ct_init(FlateState* state);

// Starts a new block: clears the frequencies and the symbol buffers.
void reset_block(FlateState* state);

// Codes and closes the current block; data is the block's input in the window
// or null when its first bytes have slid out. Returns the member's compressed
// size so far (all of it after the final block).
std::uint32_t close_block(FlateState* state, const std::uint8_t* data, std::uint32_t length,
                          int final);

// Emits the buffered symbols of the block with the given trees, then the
// end-of-block code.
void put_symbols(FlateState* state, const tree_entry* ltree, const tree_entry* dtree);

bool block_ends_early(const FlateState* state);
std::uint32_t record_bad_match(FlateState* state, std::uint32_t& dist, std::uint32_t& lc);

// Records one symbol: a literal byte lc (dist 0) or a match of length lc + 3
// at distance dist. Returns true when the block must be closed now.
inline bool ct_tally(FlateState* state, std::uint32_t dist, std::uint32_t lc) {
  state->sym_bytes[state->last_lit] = static_cast<std::uint8_t>(lc);
  state->last_lit += 1;
  if (dist == 0) {
    state->lit_tree[lc].freq += 1;
  } else {
    dist -= 1;
    std::uint32_t code = dist < WINDOW_HALF ? d_code(state, dist) : FLATE_DIST_CODES;
    if (dist >= MAX_DIST || lc > 255 || code >= FLATE_DIST_CODES) [[unlikely]] {
      code = record_bad_match(state, dist, lc);
    }
    state->lit_tree[state->len_code_of[lc] + END_BLOCK + 1].freq += 1;
    state->dist_tree[code].freq += 1;
    state->dist_words[state->last_dist] = static_cast<std::uint16_t>(dist);
    state->last_dist += 1;
    state->cur_flags |= state->cur_flag_bit;
  }
  state->cur_flag_bit = static_cast<std::uint8_t>(state->cur_flag_bit << 1);
  if ((state->last_lit & 7) == 0) {
    state->flag_bytes[state->flag_count] = state->cur_flags;
    state->flag_count += 1;
    state->cur_flags = 0;
    state->cur_flag_bit = 1;
  }
  if (state->pack_level > 2 && (state->last_lit & 0xFFF) == 0 && block_ends_early(state)) {
    return true;
  }
  return state->last_lit == BLOCK_SYMBOL_LIMIT;
}

}  // namespace vaultwick
