#pragma once

// The lazy parse loop (levels 4 to 8), written once for every way it runs:
// alone on one thread, and in the threaded compressor both by the parse
// workers, which search and record each step's outcome, and by the coder,
// which replays those outcomes into the block coder. `Steps` supplies what
// differs:
//
//   bool begin_step(state, free)   false: stop before this step. `free`: no
//                                  match is held here, as at the start, after
//                                  a match and wherever the last search found
//                                  none; every later search then finds what a
//                                  parse started afresh here would find
//   uint32 search(state)           the step's search: the length found (cut to
//                                  lookahead, a far 3-byte match dropped), with
//                                  match_pos moved when it found one
//   bool match(state, dist, lc)    a match for the block coder; true: close
//   bool literal(state, byte)      a literal; true: close the block
//   uint32 close(state, final)     close the block at cur_pos
//   void refilled(state)           the window has been topped up

#include <cstdint>

#include "deflate/detail/block_coder.h"
#include "deflate/detail/flate_limits.h"
#include "deflate/detail/match_finder.h"
#include "deflate/flate_state.h"

namespace vaultwick {

template <class Steps>
std::uint32_t lazy_loop(FlateState* state, Steps& steps) {
  const std::uint8_t* const window = state->window;
  bool pending = false;  // the byte before cur_pos awaits: literal or held match start
  std::uint32_t length = MIN_MATCH - 1;

  while (state->lookahead != 0) {
    if (!steps.begin_step(state, length == MIN_MATCH - 1)) {
      return 0;
    }
    const std::uint32_t cur = state->cur_pos;
    state->held_len = length;
    const std::uint32_t held_start = state->match_pos;
    length = steps.search(state);

    if (state->held_len >= MIN_MATCH && length <= state->held_len) {
      // The held match, from the byte before cur_pos, is at least as long.
      const bool flush = steps.match(state, cur - 1 - held_start, state->held_len - MIN_MATCH);
      state->lookahead -= state->held_len - 1;
      state->cur_pos += state->held_len - 1;
      pending = false;
      length = MIN_MATCH - 1;
      if (flush) {
        steps.close(state, 0);
      }
    } else if (pending) {
      // The byte before cur_pos found nothing better to start: a literal.
      if (steps.literal(state, window[cur - 1])) {
        steps.close(state, 0);
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
      steps.refilled(state);
    }
  }
  if (pending) {
    steps.literal(state, window[state->cur_pos - 1]);  // the final close follows anyway
  }
  return steps.close(state, 1);
}

// Closes the block that ends at cur_pos; a block whose first bytes have slid
// out of the window is passed without data, so it cannot be stored.
inline std::uint32_t close_block_at_cursor(FlateState* state, int final) {
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

// Walks use four lanes from this chain budget on (levels 5 to 8).
inline constexpr std::uint32_t kLanesFrom = 32;

// The search of the lazy parse over its own hash chains, which it links ahead
// of the parse whenever the window has been topped up. `found`: the search
// moved match_pos (a match longer than the one held, before the cuts).
template <bool kLanes>
std::uint32_t own_search(FlateState* state, bool& found) {
  found = false;
  const std::uint32_t cur = state->cur_pos;
  // Every position with three bytes of input is linked; past the last one
  // the candidate of the last stays, as it did when positions were linked
  // one step at a time.
  std::uint32_t candidate;
  if (state->lookahead >= MIN_MATCH) {
    candidate = state->chain_prev[cur];
  } else {
    candidate = state->insert_next != 0 ? state->chain_prev[state->insert_next - 1] : 0;
  }
  if (candidate == 0 || state->held_len >= state->lazy_limit || cur - candidate > MAX_DIST) {
    return MIN_MATCH - 1;
  }
  if (state->stop_len > state->lookahead) {
    state->stop_len = state->lookahead;
  }
  std::uint32_t length = kLanes ? find_match_lanes(state, candidate) : find_match(state, candidate);
  found = length > state->held_len;
  if (length > state->lookahead) {
    length = state->lookahead;
  }
  if (length == MIN_MATCH && cur - state->match_pos > FAR_SHORT_MATCH) {
    return MIN_MATCH - 1;
  }
  return length;
}

// The parse on one thread: searches its own chains, codes its own blocks.
template <bool kLanes>
struct SearchAndCode {
  bool begin_step(FlateState*, bool) { return true; }
  std::uint32_t search(FlateState* state) {
    bool found;
    return own_search<kLanes>(state, found);
  }
  bool match(FlateState* state, std::uint32_t dist, std::uint32_t lc) {
    return ct_tally(state, dist, lc);
  }
  bool literal(FlateState* state, std::uint32_t byte) { return ct_tally(state, 0, byte); }
  std::uint32_t close(FlateState* state, int final) { return close_block_at_cursor(state, final); }
  void refilled(FlateState* state) { insert_ahead<kLanes>(state); }
};

}  // namespace vaultwick
