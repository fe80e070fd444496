#pragma once

// Bit writer: packs codes into bytes in Deflate's bit order (least significant
// bit first) and hands the bytes to the caller's write_output.

#include <cstdint>

#include "common/check.h"
#include "deflate/detail/flate_limits.h"
#include "deflate/flate.h"

namespace vaultwick {

// Hands every waiting byte of obuf to write_output. A count left non-zero
// means the bytes did not reach the caller: the member fails and the bytes are
// dropped, so obuf_used never exceeds obuf_cap.
void hand_over_output(FlateState* state);

// Stores the low 16 bits of value, low byte first, first handing over the
// buffer when fewer than two bytes are free.
inline void store_two_bytes(FlateState* state, std::uint32_t value) {
  if (state->obuf_used >= state->obuf_cap - 1) {
    hand_over_output(state);
  }
  VW_ASSERT(state->obuf_used + 2 <= state->obuf_cap);
  state->obuf[state->obuf_used] = static_cast<std::uint8_t>(value);
  state->obuf[state->obuf_used + 1] = static_cast<std::uint8_t>(value >> 8);
  state->obuf_used += 2;
}

inline void store_one_byte(FlateState* state, std::uint32_t value) {
  if (state->obuf_used >= state->obuf_cap) {
    hand_over_output(state);
  }
  VW_ASSERT(state->obuf_used < state->obuf_cap);
  state->obuf[state->obuf_used] = static_cast<std::uint8_t>(value);
  state->obuf_used += 1;
}

void record_bad_length(FlateState* state, int& length);

// Appends the low `length` bits of value (1 to 15; no higher bits set).
inline void write_bits(FlateState* state, std::uint32_t value, int length) {
  if (length < 1 || length > MAX_BITS) [[unlikely]] {
    record_bad_length(state, length);
  }
  VW_ASSERT(length >= 16 || (value >> length) == 0);
  state->bits_total += static_cast<std::uint32_t>(length);
  state->bit_acc |= value << state->bit_fill;
  state->bit_fill += length;
  // Up to 16 bits may wait; the 17th sends the oldest 16 as two bytes.
  if (state->bit_fill > 16) {
    store_two_bytes(state, state->bit_acc);
    state->bit_fill -= 16;
    state->bit_acc = value >> (length - state->bit_fill);
  }
}

// Completes the last byte with zero bits and hands all waiting bytes over.
void bits_align(FlateState* state);

// Writes the body of a stored block: LEN, NLEN and the raw bytes, which go to
// write_output straight from `data`.
void put_stored(FlateState* state, const std::uint8_t* data, std::uint32_t length);

}  // namespace vaultwick
