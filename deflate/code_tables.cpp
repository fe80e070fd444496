#include "deflate/detail/code_tables.h"

// Code tables
//
// What: build_code_tables builds, per member, the tables that map a match
// length or a distance to its Deflate code and the first value each code
// covers, and the two fixed Huffman trees. Everything is derived from the
// extra-bit tables, so the code boundaries cannot drift from them. gen_codes
// gives canonical codes to code lengths, for the fixed trees here and the
// dynamic ones the tree builder makes.
//
// Invariants: the 29 length codes cover match lengths 3..258 (256 entries);
// distance codes 0..15 cover distances 1..256 one by one, codes 16..29 cover
// the rest in steps of 128, another 256 entries. Length 258 gets code 285
// (no extra bits), not 284 with extra bits 31, as RFC 1951 demands.

#include "deflate/detail/flate_limits.h"

namespace vaultwick {

std::uint32_t reverse_bits(std::uint32_t code, int n) {
  std::uint32_t result = 0;
  for (int i = 0; i < n; ++i) {
    result = (result << 1) | (code & 1);
    code >>= 1;
  }
  return result;
}

void gen_codes(FlateState* state, tree_entry* tree, int max_code) {
  std::uint32_t next[MAX_BITS + 1];
  std::uint32_t code = 0;
  for (int bits = 1; bits <= MAX_BITS; ++bits) {
    code = (code + state->len_count[bits - 1]) << 1;
    next[bits] = code;
  }
  if (code + state->len_count[MAX_BITS] - 1 != (1u << MAX_BITS) - 1) {
    record_failure(state, "inconsistent bit counts");
  }
  for (int n = 0; n <= max_code; ++n) {
    const int len = tree[n].len;
    if (len == 0) {
      continue;
    }
    tree[n].code = static_cast<std::uint16_t>(reverse_bits(next[len]++, len));
  }
}

namespace {

void build_length_codes(FlateState* state) {
  std::uint32_t length = 0;
  for (int code = 0; code < LENGTH_CODES - 1; ++code) {
    state->len_base[code] = static_cast<std::int32_t>(length);
    for (std::uint32_t n = 0; n < (1u << len_extra[code]); ++n) {
      if (length < 256) {
        state->len_code_of[length] = static_cast<std::uint8_t>(code);
      }
      ++length;
    }
  }
  if (length != 256) {
    record_failure(state, "ct_init: length != 256");
  }
  // Length 258 has a code of its own; 284 with 31 extra would mean 258 too.
  state->len_code_of[255] = LENGTH_CODES - 1;
  state->len_base[LENGTH_CODES - 1] = 255;
}

void build_distance_codes(FlateState* state) {
  std::uint32_t dist = 0;
  for (int code = 0; code < 16; ++code) {
    state->dist_base[code] = static_cast<std::int32_t>(dist);
    for (std::uint32_t n = 0; n < (1u << dist_extra[code]); ++n) {
      if (dist < 256) {
        state->dist_code_of[dist] = static_cast<std::uint8_t>(code);
      }
      ++dist;
    }
  }
  if (dist != 256) {
    record_failure(state, "ct_init: dist != 256");
  }
  // Entries 256 and 257 stand for d < 256, which the short table serves.
  state->dist_code_of[256] = 0;
  state->dist_code_of[257] = 0;
  dist >>= 7;  // from here on in units of 128 distances
  for (int code = 16; code < FLATE_DIST_CODES; ++code) {
    state->dist_base[code] = static_cast<std::int32_t>(dist << 7);
    for (std::uint32_t n = 0; n < (1u << (dist_extra[code] - 7)); ++n) {
      if (dist < 256) {
        state->dist_code_of[256 + dist] = static_cast<std::uint8_t>(code);
      }
      ++dist;
    }
  }
  if (256 + dist != 512) {
    record_failure(state, "ct_init: 256+dist != 512");
  }
}

void build_fixed_trees(FlateState* state) {
  for (auto& count : state->len_count) {
    count = 0;
  }
  auto set_lengths = [state](int first, int last, std::uint16_t bits) {
    for (int n = first; n <= last; ++n) {
      state->fixed_lit_tree[n].len = bits;
      state->len_count[bits] += 1;
    }
  };
  set_lengths(0, 143, 8);
  set_lengths(144, 255, 9);
  set_lengths(256, 279, 7);
  set_lengths(280, 287, 8);
  gen_codes(state, state->fixed_lit_tree, 287);

  for (int n = 0; n < FLATE_DIST_CODES; ++n) {
    state->fixed_dist_tree[n].len = 5;
    state->fixed_dist_tree[n].code = static_cast<std::uint16_t>(reverse_bits(n, 5));
  }
}

}  // namespace

void build_code_tables(FlateState* state) {
  build_length_codes(state);
  build_distance_codes(state);
  build_fixed_trees(state);
}

}  // namespace vaultwick
