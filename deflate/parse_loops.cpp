#include "deflate/detail/parse_loops.h"

// Parse loops
//
// What: turn the window's bytes into literals and matches for the block
// coder. The lazy loop (levels 4 to 8) holds each match for one byte: if the
// string starting one byte later matches longer, the held match's first byte
// goes out as a literal and the longer match is held instead. The fast loop
// (levels 1 to 3) takes every match at once. The lazy loop links every
// position of the input into its chain, so it links them ahead, a window's
// worth at a time, and finds each position's first candidate in chain_prev.
//
// Invariants: lookahead counts the valid bytes from cur_pos on; the window is
// topped up whenever it falls below MIN_LOOKAHEAD, so a match is never cut
// short by the window except at the end of input, where stop_len and every
// length are capped by lookahead and bytes beyond the input never matter.
// block_origin marks the first byte of the block being collected.
//
// Why these numbers: a 3-byte match farther back than 4096 bytes usually
// costs more bits than three literals, so the lazy loop drops it. A tie
// between the held match and the next one keeps the held one, which is
// already paid for by the byte before. The fast loop stops inserting the
// positions inside a match longer than lazy_limit and restarts the hash
// after it instead, which is where its speed comes from.

#include "deflate/detail/block_coder.h"
#include "deflate/detail/lazy_loop.h"
#include "deflate/detail/match_finder.h"

namespace vaultwick {

namespace {

// Searches from candidate, with stop_len and the result capped at lookahead.
template <std::uint32_t (*kFind)(FlateState*, std::uint32_t)>
inline std::uint32_t capped_search(FlateState* state, std::uint32_t candidate) {
  if (state->stop_len > state->lookahead) {
    state->stop_len = state->lookahead;
  }
  const std::uint32_t length = kFind(state, candidate);
  return length > state->lookahead ? state->lookahead : length;
}

template <bool kLanes>
std::uint32_t lazy_parse(FlateState* state) {
  insert_ahead<kLanes>(state);
  SearchAndCode<kLanes> steps;
  return lazy_loop(state, steps);
}

std::uint32_t fast_parse(FlateState* state) {
  std::uint8_t* const window = state->window;
  state->held_len = MIN_MATCH - 1;
  std::uint32_t candidate = 0;
  std::uint32_t length = 0;

  while (state->lookahead != 0) {
    if (state->lookahead >= MIN_MATCH) {
      candidate = hash_insert(state, state->cur_pos);
    }
    if (candidate != 0 && state->cur_pos - candidate <= MAX_DIST) {
      length = capped_search<find_match>(state, candidate);
    }

    bool flush;
    if (length >= MIN_MATCH) {
      flush = ct_tally(state, state->cur_pos - state->match_pos, length - MIN_MATCH);
      state->lookahead -= length;
      if (length <= state->lazy_limit && state->lookahead >= MIN_MATCH) {
        // Insert the positions inside the match (length >= 3, so at least two).
        candidate = hash_insert_run(state, state->cur_pos + 1, state->cur_pos + length - 1);
        state->cur_pos += length;
        length = 0;
      } else {
        state->cur_pos += length;
        length = 0;
        state->hash_key = window[state->cur_pos];
        state->hash_key = UPDATE_HASH(state->hash_key, window[state->cur_pos + 1]);
      }
    } else {
      flush = ct_tally(state, 0, window[state->cur_pos]);
      state->lookahead -= 1;
      state->cur_pos += 1;
    }

    if (flush) {
      close_block_at_cursor(state, 0);
    }
    if (state->lookahead < MIN_LOOKAHEAD) {
      top_up_window(state);
    }
  }
  return close_block_at_cursor(state, 1);
}

}  // namespace

std::uint32_t flate_run(FlateState* state) {
  if (state->pack_level <= 3) {
    return fast_parse(state);
  }
  // Four lanes pay where chains are walked far; their extra links cost more
  // than they save at the shortest budgets.
  return state->chain_limit >= kLanesFrom ? lazy_parse<true>(state) : lazy_parse<false>(state);
}

}  // namespace vaultwick
