#pragma once

// The one-thread compressor: a member's state readied and its input parsed,
// all on the calling thread. The threaded compressor readies its coder the
// same way and falls back to it whole.

#include "deflate/flate_state.h"

namespace vaultwick {

// The one-thread compressor, whatever the job's thread count.
FlateOutcome flate_member_one_thread(const FlateJob& job);

// Readies `state` for the job's member as flate_member does (output buffer,
// code tables, window and first read, the level's flags, the test seam), with
// the input read through `read_input`, which finds `source` in state->source.
void start_member(FlateState* state, const FlateJob& job, FlateReadFn read_input, void* source);

}  // namespace vaultwick
