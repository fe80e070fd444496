#pragma once

// Bit writer: packs codes into bytes in Deflate's bit order (least significant
// bit first) and hands the bytes to the caller's write_output.

#include <cstdint>

#include "common/check.h"
#include "deflate/detail/flate_limits.h"
#include "deflate/flate_state.h"

namespace vaultwick {

// Sets up the bit writer with the caller's output buffer.
void bits_init(FlateState* state, std::uint8_t* buffer, std::uint32_t capacity);

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

// The same packing as write_bits with the writer's fields held in locals, for
// loops that emit many codes in a row: stores into the output buffer could
// otherwise alias the fields and force them to be reloaded after every byte.
// Bytes and hand-overs are exactly those of write_bits; finish() (or the
// destructor) puts the fields back.
class BitCursor {
 public:
  explicit BitCursor(FlateState* state)
      : state_(state),
        obuf_(state->obuf),
        cap_(state->obuf_cap),
        used_(state->obuf_used),
        acc_(state->bit_acc),
        fill_(state->bit_fill),
        total_(state->bits_total) {}
  BitCursor(const BitCursor&) = delete;
  BitCursor& operator=(const BitCursor&) = delete;
  ~BitCursor() { finish(); }

  void put(std::uint32_t value, int length) {
    if (length < 1 || length > MAX_BITS) [[unlikely]] {
      record_bad_length(state_, length);
    }
    VW_ASSERT(length >= 16 || (value >> length) == 0);
    total_ += static_cast<std::uint32_t>(length);
    acc_ |= value << fill_;
    fill_ += length;
    if (fill_ > 16) {
      if (used_ >= cap_ - 1) [[unlikely]] {
        state_->obuf_used = used_;
        hand_over_output(state_);
        used_ = state_->obuf_used;
      }
      obuf_[used_] = static_cast<std::uint8_t>(acc_);
      obuf_[used_ + 1] = static_cast<std::uint8_t>(acc_ >> 8);
      used_ += 2;
      fill_ -= 16;
      acc_ = value >> (length - fill_);
    }
  }

  void finish() {
    state_->obuf_used = used_;
    state_->bit_acc = acc_;
    state_->bit_fill = fill_;
    state_->bits_total = total_;
  }

 private:
  FlateState* state_;
  std::uint8_t* obuf_;
  std::uint32_t cap_;
  std::uint32_t used_;
  std::uint32_t acc_;
  std::int32_t fill_;
  std::uint32_t total_;
};

// Completes the last byte with zero bits and hands all waiting bytes over.
void bits_align(FlateState* state);

// Writes the body of a stored block: LEN, NLEN and the raw bytes, which go to
// write_output straight from `data`.
void put_stored(FlateState* state, const std::uint8_t* data, std::uint32_t length);

}  // namespace vaultwick
