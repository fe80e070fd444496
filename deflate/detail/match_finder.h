#pragma once

// Match finder: the sliding window, its hash chains and the longest-match
// search.

#include <cstdint>

#include "deflate/detail/flate_limits.h"
#include "deflate/flate_state.h"

namespace vaultwick {

// Positions are inserted in rising order, so a chain head is always older
// than the position linked in front of it and every chain runs strictly
// backwards; find_match relies on that. A head beyond p would let a walk
// reach bytes not yet read: the link is cut and the member fails.
inline std::uint32_t link_to_future(FlateState* state) {
  record_failure(state, "no future");
  return 0;
}

// Links the string at window position p into its hash chain and returns the
// chain's previous head (0 = none). Needs three valid bytes at p.
inline std::uint32_t hash_insert(FlateState* state, std::uint32_t p) {
  state->hash_key = UPDATE_HASH(state->hash_key, state->window[p + 2]);
  std::uint32_t candidate = state->chain_head[state->hash_key];
  if (candidate > p) [[unlikely]] {
    candidate = link_to_future(state);
  }
  state->chain_prev[p] = static_cast<std::uint16_t>(candidate);
  state->chain_head[state->hash_key] = static_cast<std::uint16_t>(p);
  return candidate;
}

// hash_insert for every position from first to last (first <= last), in
// order; returns the candidate of the last one. The key and the tables are
// kept in locals so the loop does not reload the state after each store.
inline std::uint32_t hash_insert_run(FlateState* state, std::uint32_t first, std::uint32_t last) {
  const std::uint8_t* const window = state->window;
  std::uint16_t* const chain_head = state->chain_head;
  std::uint16_t* const chain_prev = state->chain_prev;
  std::uint32_t key = state->hash_key;
  std::uint32_t candidate = 0;
  for (std::uint32_t p = first; p <= last; ++p) {
    key = UPDATE_HASH(key, window[p + 2]);
    candidate = chain_head[key];
    if (candidate > p) [[unlikely]] {
      candidate = link_to_future(state);
    }
    chain_prev[p] = static_cast<std::uint16_t>(candidate);
    chain_head[key] = static_cast<std::uint16_t>(p);
  }
  state->hash_key = key;
  return candidate;
}

// Links, in order, every position not linked yet whose three bytes are in the
// window. The lazy parse links every position of the input, so it can link
// them ahead of the parse, in one tight loop per read, and find a position's
// first candidate later in chain_prev. With kLanes it also keeps the links
// two and four back for walks in four lanes.
template <bool kLanes>
inline void insert_ahead(FlateState* state) {
  const std::uint32_t fill = state->cur_pos + state->lookahead;
  if (fill < MIN_MATCH || state->insert_next > fill - MIN_MATCH) {
    return;
  }
  const std::uint32_t first = state->insert_next;
  const std::uint32_t last = fill - MIN_MATCH;
  const std::uint8_t* const window = state->window;
  std::uint16_t* const chain_head = state->chain_head;
  std::uint16_t* const chain_prev = state->chain_prev;
  std::uint16_t* const chain_prev2 = state->chain_prev2;
  std::uint16_t* const chain_prev4 = state->chain_prev4;
  std::uint32_t key = UPDATE_HASH(window[first], window[first + 1]);
  for (std::uint32_t p = first; p <= last; ++p) {
    key = UPDATE_HASH(key, window[p + 2]);
    std::uint32_t candidate = chain_head[key];
    if (candidate > p) [[unlikely]] {
      candidate = link_to_future(state);
    }
    chain_prev[p] = static_cast<std::uint16_t>(candidate);
    chain_head[key] = static_cast<std::uint16_t>(p);
    if constexpr (kLanes) {
      // 0 ends every chain, so it is its own successor.
      const std::uint16_t back2 = candidate != 0 ? chain_prev[candidate] : 0;
      chain_prev2[p] = back2;
      chain_prev4[p] = back2 != 0 ? chain_prev2[back2] : 0;
    }
  }
  state->hash_key = key;
  state->insert_next = last + 1;
}

// Follows the hash chain from `candidate` for a match at cur_pos longer than
// held_len; returns its length (held_len if none is longer) and leaves its
// start in match_pos. The length may exceed lookahead; callers clamp it.
std::uint32_t find_match(FlateState* state, std::uint32_t candidate);
// The same search in four lanes, for a parse that keeps chain_prev2 and
// chain_prev4.
std::uint32_t find_match_lanes(FlateState* state, std::uint32_t candidate);

// Prepares the window for `level` (1 to 8), ORs the level's option bits into
// *flags_word and reads the first input.
void match_init(FlateState* state, int level, std::uint16_t* flags_word);

// Prepares the window for a parse at `level` that starts at `offset` of the
// member (a multiple of 32768), as the window of a parse from the first byte
// stands when that parse reaches the offset, and reads the window full.
void match_init_at(FlateState* state, int level, std::uint64_t offset);

// Calls `read` until `room` bytes have come or the input has ended (0 or
// 0xFFFFFFFF, which sets `ended`) and returns how many came. Filling the whole
// room, however the caller's function hands its bytes out (a pipe gives what
// it holds at the moment), makes the window, and with it the stream, depend
// only on the bytes of the member.
std::uint32_t read_until_full(FlateReadFn read, FlateState* state, std::uint8_t* destination,
                              std::uint32_t room, bool& ended);

// Slides the window when cur_pos has reached the slide point and reads input
// until at least MIN_LOOKAHEAD bytes wait or the input has ended.
void top_up_window(FlateState* state);

}  // namespace vaultwick
