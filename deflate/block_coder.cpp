#include "deflate/detail/block_coder.h"

// Block coder
//
// What: the match finder hands over one symbol at a time (ct_tally): a
// literal byte or a (length, distance) match. They are buffered compactly -
// one byte per symbol, a 16-bit distance per match, one flag bit per symbol -
// while the frequencies of the literal/length and distance alphabets are
// counted. When the block ends, close_block builds both dynamic trees and
// the code-length tree, which yields the exact bit cost of the block with
// dynamic and with fixed codes, and writes it in the cheapest of the three
// forms: stored, fixed or dynamic. Only the chosen form is ever coded.
//
// Invariants: last_lit <= 32767 symbols per block, so flag_bytes (4096) and
// sym_bytes (32768) never fill; last_dist <= last_lit. done_bytes * 8 +
// done_bits always equals the bit writer's bits_total after a block, which
// close_block checks.
//
// Why these numbers: a block ends at 32767 symbols, or earlier at a multiple
// of 4096 symbols when fewer than half are matches and a rough estimate says
// the block already shrinks to under half its input - a sign that the data's
// statistics may be changing and a fresh tree may pay for its header. A
// stored block needs 4 bytes beyond its data (LEN and NLEN) and is chosen on
// a tie; fixed codes win a tie with dynamic ones.

#include "deflate/detail/bit_writer.h"
#include "deflate/detail/tree_builder.h"

namespace vaultwick {

void reset_block(FlateState* state) {
  for (int n = 0; n < FLATE_LIT_CODES; ++n) {
    state->lit_tree[n].freq = 0;
  }
  for (int n = 0; n < FLATE_DIST_CODES; ++n) {
    state->dist_tree[n].freq = 0;
  }
  for (int n = 0; n < FLATE_LENGTH_CODES; ++n) {
    state->len_tree[n].freq = 0;
  }
  state->lit_tree[END_BLOCK].freq = 1;
  state->dyn_bits = 0;
  state->fixed_bits = 0;
  state->last_lit = 0;
  state->last_dist = 0;
  state->flag_count = 0;
  state->cur_flags = 0;
  state->cur_flag_bit = 1;
}

void ct_init(FlateState* state) {
  build_code_tables(state);

  // tree, fixed tree, extra bits, first symbol with extra bits, leaves, longest code
  // clang-format off
  state->lit_spec = {state->lit_tree, state->fixed_lit_tree, len_extra, END_BLOCK + 1,
                     FLATE_LIT_CODES, MAX_BITS, 0};
  state->dist_spec = {state->dist_tree, state->fixed_dist_tree, dist_extra, 0,
                      FLATE_DIST_CODES, MAX_BITS, 0};
  state->len_spec = {state->len_tree, nullptr, lencode_extra, 0,
                     FLATE_LENGTH_CODES, MAX_BL_BITS, 0};
  // clang-format on

  state->done_bytes = 0;
  state->done_bits = 0;
  reset_block(state);
}

bool block_ends_early(const FlateState* state) {
  std::uint32_t estimate = state->last_lit * 8;
  for (int d = 0; d < FLATE_DIST_CODES; ++d) {
    estimate += state->dist_tree[d].freq * (5u + dist_extra[d]);
  }
  estimate >>= 3;
  const auto input =
      static_cast<std::uint32_t>(static_cast<std::int64_t>(state->cur_pos) - state->block_origin);
  return state->last_dist < state->last_lit / 2 && estimate < input / 2;
}

std::uint32_t record_bad_match(FlateState* state, std::uint32_t& dist, std::uint32_t& lc) {
  record_failure(state, "ct_tally: bad match");
  // Keep the buffers and tables in bounds; the member has failed anyway.
  dist = 0;
  lc &= 0xFF;
  return d_code(state, dist);
}

void put_symbols(FlateState* state, const tree_entry* ltree, const tree_entry* dtree) {
  const std::uint8_t* const sym_bytes = state->sym_bytes;
  const std::uint8_t* const flag_bytes = state->flag_bytes;
  const std::uint16_t* const dist_words = state->dist_words;
  const std::uint32_t last_lit = state->last_lit;
  BitCursor bits(state);
  std::uint32_t flags = 0;
  std::uint32_t dist_index = 0;
  for (std::uint32_t sym = 0; sym < last_lit; ++sym) {
    if ((sym & 7) == 0) {
      flags = flag_bytes[sym >> 3];
    }
    const std::uint32_t lc = sym_bytes[sym];
    if ((flags & 1) == 0) {
      bits.put(ltree[lc].code, ltree[lc].len);
    } else {
      std::uint32_t code = state->len_code_of[lc];
      const tree_entry& len_symbol = ltree[code + END_BLOCK + 1];
      bits.put(len_symbol.code, len_symbol.len);
      if (int extra = len_extra[code]; extra != 0) {
        bits.put(lc - static_cast<std::uint32_t>(state->len_base[code]), extra);
      }
      const std::uint32_t d = dist_words[dist_index++];
      code = d_code(state, d);
      if (code >= FLATE_DIST_CODES) [[unlikely]] {
        record_failure(state, "bad d_code");
        code = 0;
      }
      bits.put(dtree[code].code, dtree[code].len);
      if (int extra = dist_extra[code]; extra != 0) {
        bits.put(d - static_cast<std::uint32_t>(state->dist_base[code]), extra);
      }
    }
    flags >>= 1;
  }
  bits.put(ltree[END_BLOCK].code, ltree[END_BLOCK].len);
}

std::uint32_t close_block(FlateState* state, const std::uint8_t* data, std::uint32_t length,
                          int final) {
  state->flag_bytes[state->flag_count] = state->cur_flags;

  make_tree(state, &state->lit_spec);
  make_tree(state, &state->dist_spec);
  const int index = make_length_tree(state);

  // Whole bytes of each form, with the 3 header bits.
  const std::uint32_t dynamic_bytes = (state->dyn_bits + 3 + 7) >> 3;
  const std::uint32_t fixed_bytes = (state->fixed_bits + 3 + 7) >> 3;
  const std::uint32_t best = fixed_bytes <= dynamic_bytes ? fixed_bytes : dynamic_bytes;

  const auto last = static_cast<std::uint32_t>(final);
  if (length + 4 <= best && data != nullptr) {
    write_bits(state, last, 3);  // block type 0
    state->done_bytes += ((state->done_bits + 3 + 7) >> 3) + length + 4;
    state->done_bits = 0;
    put_stored(state, data, length);
  } else {
    if (fixed_bytes == best) {
      write_bits(state, 2 + last, 3);  // block type 1
      put_symbols(state, state->fixed_lit_tree, state->fixed_dist_tree);
      state->done_bits += 3 + state->fixed_bits;
    } else {
      write_bits(state, 4 + last, 3);  // block type 2
      put_trees(state, state->lit_spec.max_code + 1, state->dist_spec.max_code + 1, index + 1);
      put_symbols(state, state->lit_tree, state->dist_tree);
      state->done_bits += 3 + state->dyn_bits;
    }
    state->done_bytes += state->done_bits >> 3;
    state->done_bits &= 7;
  }
  if (state->done_bytes * 8 + state->done_bits != state->bits_total) {
    record_failure(state, "bad compressed size");
  }
  reset_block(state);
  if (final != 0) {
    bits_align(state);
    state->done_bits += 7;  // counts the last partial byte
  }
  return state->done_bytes + (state->done_bits >> 3);
}

}  // namespace vaultwick
