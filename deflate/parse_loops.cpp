#include "deflate/flate.h"

// Parse loops
//
// What: turn the window's bytes into literals and matches for the block
// coder. The lazy loop (levels 4 to 8) holds each match for one byte: if the
// string starting one byte later matches longer, the held match's first byte
// goes out as a literal and the longer match is held instead. The fast loop
// (levels 1 to 3) takes every match at once.
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
#include "deflate/detail/match_finder.h"

namespace vaultwick {

namespace {

// Closes the block that ends at cur_pos; a block whose first bytes have slid
// out of the window is passed without data, so it cannot be stored.
std::uint32_t close_block_at_cursor(FlateState* state, int final) {
  const std::uint8_t* data =
      state->block_origin >= 0 ? state->window + state->block_origin : nullptr;
  const auto length =
      static_cast<std::uint32_t>(static_cast<std::int64_t>(state->cur_pos) - state->block_origin);
  const std::uint32_t size = close_block(state, data, length, final);
  if (final == 0) {
    state->block_origin = static_cast<std::int32_t>(state->cur_pos);
  }
  return size;
}

// Searches from candidate, with stop_len and the result capped at lookahead.
inline std::uint32_t search(FlateState* state, std::uint32_t candidate) {
  if (state->stop_len > state->lookahead) {
    state->stop_len = state->lookahead;
  }
  const std::uint32_t length = find_match(state, candidate);
  return length > state->lookahead ? state->lookahead : length;
}

std::uint32_t lazy_parse(FlateState* state) {
  std::uint8_t* const window = state->window;
  std::uint32_t candidate = 0;
  bool pending = false;  // the byte before cur_pos awaits: literal or held match start
  std::uint32_t length = MIN_MATCH - 1;

  while (state->lookahead != 0) {
    if (state->lookahead >= MIN_MATCH) {
      candidate = hash_insert(state, state->cur_pos);
    }
    state->held_len = length;
    const std::uint32_t held_start = state->match_pos;
    length = MIN_MATCH - 1;

    if (candidate != 0 && state->held_len < state->lazy_limit &&
        state->cur_pos - candidate <= MAX_DIST) {
      length = search(state, candidate);
      if (length == MIN_MATCH && state->cur_pos - state->match_pos > FAR_SHORT_MATCH) {
        length = MIN_MATCH - 1;
      }
    }

    if (state->held_len >= MIN_MATCH && length <= state->held_len) {
      // The held match, from the byte before cur_pos, is at least as long.
      const std::uint32_t insert_limit = state->cur_pos + state->lookahead - MIN_MATCH;
      const bool flush =
          ct_tally(state, state->cur_pos - 1 - held_start, state->held_len - MIN_MATCH);
      state->lookahead -= state->held_len - 1;
      // Insert the positions inside the match, as far as three bytes are known.
      const std::uint32_t first = state->cur_pos + 1;
      std::uint32_t last = state->cur_pos + state->held_len - 2;
      if (last > insert_limit) {
        last = insert_limit;
      }
      if (first <= last) {
        candidate = hash_insert_run(state, first, last);
      }
      state->cur_pos += state->held_len - 1;
      pending = false;
      length = MIN_MATCH - 1;
      if (flush) {
        close_block_at_cursor(state, 0);
      }
    } else if (pending) {
      // The byte before cur_pos found nothing better to start: a literal.
      if (ct_tally(state, 0, window[state->cur_pos - 1])) {
        close_block_at_cursor(state, 0);
      }
      state->cur_pos += 1;
      state->lookahead -= 1;
    } else {
      pending = true;
      state->cur_pos += 1;
      state->lookahead -= 1;
    }

    if (state->lookahead < MIN_LOOKAHEAD) {
      top_up_window(state);
    }
  }
  if (pending) {
    ct_tally(state, 0, window[state->cur_pos - 1]);  // the final close follows anyway
  }
  return close_block_at_cursor(state, 1);
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
      length = search(state, candidate);
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
  return state->pack_level <= 3 ? fast_parse(state) : lazy_parse(state);
}

}  // namespace vaultwick
