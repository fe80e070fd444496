#pragma once

// The Deflate compressor: turns the bytes of one archive member into a raw
// Deflate stream (RFC 1951). One call compresses a member from start to end:
//
//   FlateJob job;                          // caller's functions and buffer
//   ...
//   FlateOutcome out = flate_member(job);  // null error_text: a sound member
//
// It creates the member's FlateState and drives it with four steps, which
// their headers in detail/ declare for the tests of the single pieces:
//
//   bits_init(state, buffer, capacity);   // caller's output buffer (bit_writer.h)
//   ct_init(state);                       // code tables, fixed trees (block_coder.h)
//   match_init(state, level, &flags);     // window, hash chains, first read (match_finder.h)
//   size = flate_run(state);              // compress to the end of input (parse_loops.h)
//
// then looks at state->error_text: null means the member is sound and `size`
// is its compressed size. On one thread the compressor never allocates
// beyond its state, never blocks on anything but the caller's two functions,
// and keeps no mutable global state, so members on different threads need
// nothing but their own FlateState. With FlateJob::threads above 1 (levels 4
// to 8) flate_member also starts parse threads for the member, and holds a
// few MiB of its input and their results; it joins them before it returns,
// and the stream is the same byte for byte. The caller's two functions are
// still called on the calling thread only.

#include "deflate/flate_state.h"

namespace vaultwick {

// Compresses one member from its first input byte to the end of its stream.
// A state that cannot be allocated fails the member ("out of memory").
FlateOutcome flate_member(const FlateJob& job);

}  // namespace vaultwick
