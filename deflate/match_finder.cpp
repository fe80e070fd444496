#include "deflate/detail/match_finder.h"

// Match finder
//
// What: input is read into a 64 KiB window. Every position whose three bytes
// are known is linked into a hash chain: chain_head holds the newest position
// per 15-bit key of its three bytes, chain_prev (one entry per window
// position) the next older position with the same key, so a chain lists
// earlier occurrences newest first.
// find_match walks a chain from a candidate and measures each candidate's
// common prefix with the string at cur_pos.
//
// Invariants: position 0 means "no candidate", so the window's first byte
// never starts a match source. Every chain entry is older than cur_pos, and
// every link older than the position it belongs to; a link never changes once
// made, so the lazy parse may link positions ahead of its search (a search at
// p reads only links of positions below p). No match reaches back more than
// MAX_DIST (32506) bytes, so when cur_pos passes SLIDE_POINT (65274) the
// upper half can move down by 32768 without losing a byte any match still
// needs: the lower half's links are replaced by the upper half's, and entries
// that pointed into the lower half become 0. find_match is called with
// cur_pos <= 65274, so its scan, which reads up to 258 bytes past cur_pos and
// may run past the valid input, stays inside the window; callers cut its
// result to lookahead. Every read fills the window's free room (the caller's
// function is asked again until the room is full or the input has ended), so
// the window, and with it the stream, depends only on the member's bytes.
//
// Why these numbers: three shifts of 5 bits push a byte out of the 15-bit
// key, so a key is a function of exactly three bytes, and two equal leading
// bytes under an equal key imply an equal third byte: the scan checks bytes
// 0 and 1 and starts comparing at byte 3. A candidate is rejected on four
// byte comparisons (the two bytes at the current best length first, since
// they differ most often) before its prefix is measured, in runs of 8 bytes:
// the 256 bytes after the first three are 32 runs exactly.
//
// Speed: at level 8 most time goes into walking chains, and a walk spends it
// waiting for its next link to arrive from memory, since each link's address
// is the link before. So the lazy parse keeps, beside chain_prev, the links
// two and four back (chain_prev2, chain_prev4) and walks a chain in four
// lanes: candidates 1, 5, 9, ... follow chain_prev4 in one lane, 2, 6, 10, ...
// in the next, and so on, so four loads are under way at once while the
// candidates are still examined in chain order, giving the one-link walk's
// result. The shortest budgets (level 4) walk one link at a time: there the
// extra links cost more than they save. Chain entries are 16 bits (the live
// tables stay small), chain_prev has an entry per window position (no
// masking on the dependent load), and the "no future" check sits where links
// are made: chains then only run backwards, and a step tests only the lower
// end of the allowed range.

#include <cstring>
#include <initializer_list>

#include "common/check.h"
#include "deflate/detail/chain_walk.h"
#include "deflate/detail/level_table.h"

namespace vaultwick {

namespace {

// A search as find_match describes it, in four lanes with kLanes.
template <bool kLanes>
std::uint32_t search_chain(FlateState* state, std::uint32_t candidate) {
  const std::uint32_t held = state->held_len;
  std::uint32_t chain = state->chain_limit;
  if (held >= state->ample_len) {
    chain >>= 2;  // a good match is held already: search less
  }
  const std::uint32_t cur_pos = state->cur_pos;
  if (cur_pos > state->window_bytes - MIN_LOOKAHEAD) [[unlikely]] {
    record_failure(state, "insufficient lookahead");
    return held;
  }
  // The last run of 8 compares bytes up to offset MAX_MATCH.
  if (cur_pos + MAX_MATCH > FLATE_WINDOW_SIZE - 1) [[unlikely]] {
    record_failure(state, "wild scan");
    return held;
  }
  // Every link is older than its position, so once the first candidate lies
  // before cur_pos the walk only moves back.
  if (candidate >= cur_pos) [[unlikely]] {
    record_failure(state, "no future");
    return held;
  }
  ChainWalk walk = start_walk(state->window, cur_pos, candidate, held, chain, state->stop_len);
  if constexpr (kLanes) {
    run_walk4(walk, state->window, state->chain_prev, state->chain_prev2, state->chain_prev4);
  } else {
    run_walk(walk, state->window, state->chain_prev);
  }
  if (walk.best > held) {
    state->match_pos = walk.match_pos;
  }
  return walk.best;
}

}  // namespace

std::uint32_t find_match(FlateState* state, std::uint32_t candidate) {
  return search_chain<false>(state, candidate);
}

std::uint32_t find_match_lanes(FlateState* state, std::uint32_t candidate) {
  return search_chain<true>(state, candidate);
}

namespace {

// Moves the upper half of the window down and every position with it;
// positions that fall off the bottom become "none".
void slide_window(FlateState* state) {
  std::memcpy(state->window, state->window + WINDOW_HALF, WINDOW_HALF);
  state->match_pos -= WINDOW_HALF;
  state->cur_pos -= WINDOW_HALF;
  state->block_origin -= static_cast<std::int32_t>(WINDOW_HALF);
  state->insert_next = state->insert_next >= WINDOW_HALF ? state->insert_next - WINDOW_HALF : 0;
  state->window_offset += WINDOW_HALF;
  // A subtraction that stops at 0: one saturating vector instruction per 8
  // entries.
  if (state->chains_unused) {
    return;
  }
  auto slide = [](std::uint16_t v) {
    return static_cast<std::uint16_t>(v >= WINDOW_HALF ? v - WINDOW_HALF : 0);
  };
  for (std::uint16_t& v : state->chain_head) {
    v = slide(v);
  }
  // Only positions below the slide point have links; the upper half's links
  // move down with their positions and the upper half waits to be rewritten.
  for (std::uint16_t* links : {state->chain_prev, state->chain_prev2, state->chain_prev4}) {
    for (std::uint32_t p = 0; p < WINDOW_HALF; ++p) {
      links[p] = slide(links[p + WINDOW_HALF]);
    }
  }
}

// read_until_full through the state's own read_input; the input's end sets
// input_done.
std::uint32_t read_fill(FlateState* state, std::uint8_t* destination, std::uint32_t room) {
  bool ended = false;
  const std::uint32_t got = read_until_full(state->read_input, state, destination, room, ended);
  if (ended) {
    state->input_done = 1;
  }
  return got;
}

}  // namespace

std::uint32_t read_until_full(FlateReadFn read, FlateState* state, std::uint8_t* destination,
                              std::uint32_t room, bool& ended) {
  std::uint32_t got = 0;
  while (got < room) {
    const std::uint32_t n = read(state, destination + got, room - got);
    if (n == 0 || n == 0xFFFFFFFFu) {
      ended = true;
      break;
    }
    VW_ASSERT(n <= room - got);
    got += n;
  }
  return got;
}

void top_up_window(FlateState* state) {
  // The body runs at least once, so a window past the slide point slides
  // even after the input has ended.
  do {
    std::uint32_t room = state->window_bytes - state->lookahead - state->cur_pos;
    if (state->cur_pos >= SLIDE_POINT) {
      slide_window(state);
      room += WINDOW_HALF;
    }
    if (state->input_done != 0) {
      return;
    }
    if (room < 2) [[unlikely]] {
      record_failure(state, "more < 2");
      if (room == 0) {
        return;
      }
    }
    state->lookahead += read_fill(state, state->window + state->cur_pos + state->lookahead, room);
  } while (state->lookahead < MIN_LOOKAHEAD && state->input_done == 0);
}

void match_init(FlateState* state, int level, std::uint16_t* flags_word) {
  if (level < 1 || level > 8) {
    record_failure(state, "bad pack level");
    level = level < 1 ? 1 : 8;  // run safely; the member has failed
  }
  // The ZIP option bits for Deflate: 0x0002 marks maximum compression,
  // 0x0004 fast compression.
  if (level == 1 || level == 2) {
    *flags_word |= 0x0004;
  } else if (level >= 8) {
    *flags_word |= 0x0002;
  }
  match_init_at(state, level, 0);
}

void match_init_at(FlateState* state, int level, std::uint64_t offset) {
  VW_ASSERT(level >= 1 && level <= 8 && offset % WINDOW_HALF == 0);
  state->window_bytes = FLATE_WINDOW_SIZE;
  // chain_prev is not cleared: each entry is written before it is read.
  std::memset(state->chain_head, 0, sizeof state->chain_head);

  const level_row& row = level_table[level];
  state->ample_len = row.ample_len;
  state->lazy_limit = row.lazy_limit;
  state->stop_len = row.stop_len;
  state->chain_limit = row.chain_limit;

  // A parse that reaches `offset` has slid the window so that the offset
  // lies at the start of its upper half (see the essay).
  state->window_offset = offset >= WINDOW_HALF ? offset - WINDOW_HALF : 0;
  state->cur_pos = static_cast<std::uint32_t>(offset - state->window_offset);
  state->block_origin = static_cast<std::int32_t>(state->cur_pos);
  state->held_len = MIN_MATCH - 1;
  state->match_pos = 0;
  state->hash_key = 0;
  state->insert_next = 0;

  state->input_done = 0;
  const std::uint32_t fill = read_fill(state, state->window, FLATE_WINDOW_SIZE);
  state->lookahead = fill > state->cur_pos ? fill - state->cur_pos : 0;
  if (state->lookahead == 0) {
    return;
  }
  if (state->lookahead < MIN_LOOKAHEAD) {
    top_up_window(state);
  }
  state->hash_key = UPDATE_HASH(state->hash_key, state->window[state->cur_pos]);
  state->hash_key = UPDATE_HASH(state->hash_key, state->window[state->cur_pos + 1]);
}

}  // namespace vaultwick
