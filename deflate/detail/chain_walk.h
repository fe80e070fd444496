#pragma once

// One walk along a hash chain: the candidates of one search, newest first,
// each measured against the string at the search position, until the chain
// leaves the allowed distance, the budget of candidates is spent, or a match
// of stop length is found. Most of a walk's time goes into waiting for the
// next link to arrive from memory, which is why the lazy parse walks in four
// lanes.

#include <bit>
#include <cstdint>
#include <cstring>

#include "deflate/detail/flate_limits.h"
#include "deflate/flate_state.h"

namespace vaultwick {

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
// bytes are equal; at most MAX_MATCH. Compares runs of 8 bytes: the 256 bytes
// after the first three are 32 runs exactly.
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

struct ChainWalk {
  std::uint32_t c;          // first candidate
  std::uint32_t chain;      // candidates it may examine
  std::uint32_t lower;      // a later candidate at or below this ends the walk
  std::uint32_t best;       // longest match so far; the length to beat at the start
  std::uint32_t match_pos;  // start of that match, once best has risen
  std::uint32_t stop;       // a match this long ends the walk
  std::uint16_t scan_start;
  std::uint16_t scan_end;  // bytes best - 1 and best of the string searched for
  const std::uint8_t* scan;
};

// Starts a walk for the string at `pos`, from `candidate` (below pos, at most
// MAX_DIST back), looking for a match longer than `held`.
inline ChainWalk start_walk(const std::uint8_t* window, std::uint32_t pos, std::uint32_t candidate,
                            std::uint32_t held, std::uint32_t chain, std::uint32_t stop) {
  ChainWalk w;
  w.c = candidate;
  w.chain = chain;
  w.lower = pos > MAX_DIST ? pos - MAX_DIST : 0;
  w.best = held;
  w.match_pos = 0;
  w.stop = stop;
  w.scan = window + pos;
  w.scan_start = load16(w.scan);
  w.scan_end = load16(w.scan + held - 1);
  return w;
}

// Examines candidate c for a match longer than w.best; false when it ends the
// walk (a match of stop length). A candidate is rejected on its two bytes at
// the current best length (where candidates differ most often) and its first
// two before its prefix is measured; two equal first bytes under an equal
// hash key imply an equal third, so measuring starts at the fourth.
inline bool examine(ChainWalk& w, std::uint32_t c, const std::uint8_t* window) {
  const std::uint8_t* const candidate = window + c;
  if (load16(candidate + w.best - 1) == w.scan_end && load16(candidate) == w.scan_start) {
    const std::uint32_t length = common_length(w.scan, candidate);
    if (length > w.best) {
      w.match_pos = c;
      w.best = length;
      if (length >= w.stop) {
        return false;
      }
      w.scan_end = load16(w.scan + length - 1);
    }
  }
  return true;
}

// Whether the walk goes on to candidate c: it must lie above the lower end of
// the allowed range (links only point backwards, hash insertion makes sure of
// it, so that is the only bound to test) and the budget must allow it.
inline bool go_on(ChainWalk& w, std::uint32_t c) {
  return c > w.lower && --w.chain != 0;
}

// Walks the chain one link at a time.
inline void run_walk(ChainWalk& w, const std::uint8_t* window, const std::uint16_t* chain_prev) {
  std::uint32_t c = w.c;
  while (examine(w, c, window)) {
    c = chain_prev[c];
    if (!go_on(w, c)) {
      break;
    }
  }
}

// Walks the chain in four lanes: candidates 1, 5, 9, ... in one, 2, 6, 10, ...
// in the next, and so on, each lane following chain_prev4 (four links back).
// The four next links are loaded at once instead of one after the other,
// while the candidates are still examined in chain order, so the result is
// the one-link walk's.
inline void run_walk4(ChainWalk& w, const std::uint8_t* window, const std::uint16_t* chain_prev,
                      const std::uint16_t* chain_prev2, const std::uint16_t* chain_prev4) {
  std::uint32_t c1 = w.c;
  std::uint32_t c2 = chain_prev[c1];
  std::uint32_t c3 = chain_prev2[c1];
  std::uint32_t c4 = chain_prev2[c2];
  for (;;) {
    if (!examine(w, c1, window) || !go_on(w, c2) || !examine(w, c2, window) || !go_on(w, c3) ||
        !examine(w, c3, window) || !go_on(w, c4) || !examine(w, c4, window)) {
      return;
    }
    const std::uint32_t n1 = chain_prev4[c1];
    const std::uint32_t n2 = chain_prev4[c2];
    const std::uint32_t n3 = chain_prev4[c3];
    const std::uint32_t n4 = chain_prev4[c4];
    c1 = n1;
    c2 = n2;
    c3 = n3;
    c4 = n4;
    if (!go_on(w, c1)) {
      return;
    }
  }
}

}  // namespace vaultwick
