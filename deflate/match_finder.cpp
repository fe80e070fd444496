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
// every link older than the position it belongs to. No
// match reaches back more than MAX_DIST (32506) bytes, so when cur_pos passes
// SLIDE_POINT (65274) the upper half can move down by 32768 without losing a
// byte any match still needs: the lower half's links are replaced by the
// upper half's, and entries that pointed into the lower half become 0. find_match is called with
// cur_pos <= 65274, so its scan, which reads up to 258 bytes past cur_pos and may run past the
// valid input, stays inside the window; callers cut its result to lookahead.
//
// Why these numbers: three shifts of 5 bits push a byte out of the 15-bit
// key, so a key is a function of exactly three bytes, and two equal leading
// bytes under an equal key imply an equal third byte: the scan checks bytes
// 0 and 1 and starts comparing at byte 3. A candidate is rejected on four
// byte comparisons (the two bytes at the current best length first, since
// they differ most often) before its prefix is measured, in runs of 8 bytes:
// the 256 bytes after the first three are 32 runs exactly.
//
// Speed: at level 8 most time goes into walking chains, one dependent load of
// chain_prev per step plus a look into the window; a step is seven
// instructions. That is why chain entries are 16 bits (the live tables and
// the window's live half take 160 KiB instead of 288), why chain_prev has an
// entry per window position rather than per half (no masking on the
// dependent load; a link is still read only for a position inside the
// distance range, whose twin 32768 bytes on has not been inserted yet), and
// why the "no future" check sits where links are made: chains then only run
// backwards, and a step tests only the lower end of the allowed range.

#include <bit>
#include <cstring>

#include "common/check.h"
#include "deflate/detail/level_table.h"

namespace vaultwick {

namespace {

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint16_t load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Length of the common prefix of scan and match, given that their first three
// bytes are equal; at most MAX_MATCH.
inline std::uint32_t common_length(const std::uint8_t* scan, const std::uint8_t* match) {
  static_assert(std::endian::native == std::endian::little);
  for (std::uint32_t offset = MIN_MATCH; offset < MAX_MATCH + 1; offset += 8) {
    const std::uint64_t diff = load64(scan + offset) ^ load64(match + offset);
    if (diff != 0) {
      const std::uint32_t length = offset + (std::countr_zero(diff) >> 3);
      return length < MAX_MATCH ? length : MAX_MATCH;
    }
  }
  return MAX_MATCH;
}

}  // namespace

std::uint32_t find_match(FlateState* state, std::uint32_t candidate) {
  std::uint32_t best = state->held_len;
  std::uint32_t chain = state->chain_limit;
  if (state->held_len >= state->ample_len) {
    chain >>= 2;  // a good match is held already: search less
  }
  const std::uint32_t cur_pos = state->cur_pos;
  const std::uint32_t lower_bound = cur_pos > MAX_DIST ? cur_pos - MAX_DIST : 0;

  if (cur_pos > state->window_bytes - MIN_LOOKAHEAD) [[unlikely]] {
    record_failure(state, "insufficient lookahead");
    return best;
  }
  // The last run of 8 compares bytes up to offset MAX_MATCH.
  if (cur_pos + MAX_MATCH > FLATE_WINDOW_SIZE - 1) [[unlikely]] {
    record_failure(state, "wild scan");
    return best;
  }

  const std::uint8_t* const window = state->window;
  const std::uint8_t* const scan = window + cur_pos;
  const std::uint16_t scan_start = load16(scan);
  // Bytes best - 1 and best of the candidate at c are at end_base + c.
  const std::uint8_t* end_base = window + best - 1;
  std::uint16_t scan_end = load16(scan + best - 1);
  const std::uint32_t stop_len = state->stop_len;
  const std::uint16_t* const chain_prev = state->chain_prev;

  // Every link is older than its position (hash insertion makes sure of it),
  // so once the first candidate lies before cur_pos the walk only moves back
  // and each step need only test the lower end of the allowed range.
  std::size_t c = candidate;
  if (c >= cur_pos) [[unlikely]] {
    record_failure(state, "no future");
    return best;
  }
  for (;;) {
    if (load16(end_base + c) == scan_end && load16(window + c) == scan_start) {
      const std::uint32_t length = common_length(scan, window + c);
      if (length > best) {
        state->match_pos = static_cast<std::uint32_t>(c);
        best = length;
        if (length >= stop_len) {
          break;
        }
        end_base = window + best - 1;
        scan_end = load16(scan + best - 1);
      }
    }
    c = chain_prev[c];
    if (c <= lower_bound || --chain == 0) {
      break;
    }
  }
  return best;
}

namespace {

// Moves the upper half of the window down and every position with it;
// positions that fall off the bottom become "none".
void slide_window(FlateState* state) {
  std::memcpy(state->window, state->window + WINDOW_HALF, WINDOW_HALF);
  state->match_pos -= WINDOW_HALF;
  state->cur_pos -= WINDOW_HALF;
  state->block_origin -= static_cast<std::int32_t>(WINDOW_HALF);
  // A subtraction that stops at 0: one saturating vector instruction per 8
  // entries.
  auto slide = [](std::uint16_t v) {
    return static_cast<std::uint16_t>(v >= WINDOW_HALF ? v - WINDOW_HALF : 0);
  };
  for (std::uint16_t& v : state->chain_head) {
    v = slide(v);
  }
  // Only positions below the slide point have links; the upper half's links
  // move down with their positions and the upper half waits to be rewritten.
  for (std::uint32_t p = 0; p < WINDOW_HALF; ++p) {
    state->chain_prev[p] = slide(state->chain_prev[p + WINDOW_HALF]);
  }
}

constexpr bool no_more_input(std::uint32_t n) {
  return n == 0 || n == 0xFFFFFFFFu;
}

}  // namespace

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
    const std::uint32_t n =
        state->read_input(state, state->window + state->cur_pos + state->lookahead, room);
    if (no_more_input(n)) {
      state->input_done = 1;
    } else {
      VW_ASSERT(n <= room);
      state->lookahead += n;
    }
  } while (state->lookahead < MIN_LOOKAHEAD && state->input_done == 0);
}

void match_init(FlateState* state, int level, std::uint16_t* flags_word) {
  if (level < 1 || level > 8) {
    record_failure(state, "bad pack level");
    level = level < 1 ? 1 : 8;  // run safely; the member has failed
  }
  state->window_bytes = FLATE_WINDOW_SIZE;
  // chain_prev is not cleared: each entry is written before it is read.
  std::memset(state->chain_head, 0, sizeof state->chain_head);

  const level_row& row = level_table[level];
  state->ample_len = row.ample_len;
  state->lazy_limit = row.lazy_limit;
  state->stop_len = row.stop_len;
  state->chain_limit = row.chain_limit;

  // The ZIP option bits for Deflate: 0x0002 marks maximum compression,
  // 0x0004 fast compression.
  if (level == 1 || level == 2) {
    *flags_word |= 0x0004;
  } else if (level >= 8) {
    *flags_word |= 0x0002;
  }

  state->cur_pos = 0;
  state->block_origin = 0;
  state->held_len = MIN_MATCH - 1;
  state->match_pos = 0;
  state->hash_key = 0;

  state->lookahead = state->read_input(state, state->window, FLATE_WINDOW_SIZE);
  if (no_more_input(state->lookahead)) {
    state->input_done = 1;
    state->lookahead = 0;
    return;
  }
  VW_ASSERT(state->lookahead <= FLATE_WINDOW_SIZE);
  state->input_done = 0;
  if (state->lookahead < MIN_LOOKAHEAD) {
    top_up_window(state);
  }
  state->hash_key = UPDATE_HASH(state->hash_key, state->window[0]);
  state->hash_key = UPDATE_HASH(state->hash_key, state->window[1]);
}

}  // namespace vaultwick
