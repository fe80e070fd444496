#include "deflate/detail/bit_writer.h"

// Bit writer
//
// What: codes of 1 to 15 bits arrive from the block coder; they are packed
// into bytes least significant bit first (the order of RFC 1951) and collected
// in the caller's output buffer, which is handed to write_output whenever it
// cannot take the next store. Stored-block bodies skip the buffer: the raw
// bytes go to write_output straight from the window.
//
// Invariants: between calls bit_fill is 0 to 16 and bit_acc holds exactly
// bit_fill pending bits, oldest in bit 0; obuf_used <= obuf_cap; bits_total
// counts every bit sent, rounded up to whole bytes at each alignment, so the
// block coder can check its own size accounting against it.
//
// Why these numbers: the accumulator is emptied 16 bits at a time, so a
// two-byte store hands the buffer over once obuf_cap - 1 bytes wait and a
// one-byte store once obuf_cap wait. With the archive writer's 16384-byte
// buffer the writer therefore sees pieces of 16383 or 16384 bytes, plus the
// pieces around stored blocks and the last one. That rhythm is part of the
// output contract, which is why the flush is not batched more coarsely.

namespace vaultwick {

void hand_over_output(FlateState* state) {
  state->write_output(state->param, state->obuf, &state->obuf_used);
  if (state->obuf_used != 0) {
    record_failure(state, "output write failed");
    state->obuf_used = 0;
  }
}

void record_bad_length(FlateState* state, int& length) {
  record_failure(state, "invalid length");
  // The bits are still added, but never more than the accumulator can hold.
  if (length < 0) {
    length = 0;
  } else if (length > 16) {
    length = 16;
  }
}

void bits_init(FlateState* state, std::uint8_t* buffer, std::uint32_t capacity) {
  VW_ASSERT(buffer != nullptr && capacity >= 2);
  state->obuf = buffer;
  state->obuf_cap = capacity;
  state->obuf_used = 0;
  state->bit_acc = 0;
  state->bit_fill = 0;
  state->bits_total = 0;
}

void bits_align(FlateState* state) {
  if (state->bit_fill > 8) {
    store_two_bytes(state, state->bit_acc);
  } else if (state->bit_fill > 0) {
    store_one_byte(state, state->bit_acc);
  }
  hand_over_output(state);
  state->bit_acc = 0;
  state->bit_fill = 0;
  state->bits_total = (state->bits_total + 7) & ~7u;
}

void put_stored(FlateState* state, const std::uint8_t* data, std::uint32_t length) {
  VW_ASSERT(length <= 0xFFFF);
  bits_align(state);
  store_two_bytes(state, length);   // LEN
  store_two_bytes(state, ~length);  // NLEN, its one's complement
  state->bits_total += 32;
  hand_over_output(state);
  state->obuf_used = length;
  state->write_output(state->param, data, &state->obuf_used);
  if (state->obuf_used != 0) {
    record_failure(state, "output write failed");
    state->obuf_used = 0;
  }
  state->bits_total += length * 8;
}

}  // namespace vaultwick
