#pragma once

// The threaded compressor: the one-thread compressor's stream, byte for byte,
// with the lazy parse's searches spread over worker threads.

#include <cstdint>

#include "deflate/flate_state.h"

namespace vaultwick {

// The input each parse job covers in the product. Tests use smaller ones (a
// multiple of 32768, from 128 KiB) to cross many segment boundaries.
inline constexpr std::uint64_t kFlateSegmentBytes = std::uint64_t{1} << 20;

// More parse threads gain little (the calling thread's share, coding the
// blocks, is about a fifth of the work) and each holds a segment of input and
// its records: 8 keep a member's memory near 30 MiB.
inline constexpr unsigned kFlateMaxThreads = 8;

// Who parses which segment. The product measures; tests force the other
// ways so that every way the coder can meet records runs on every input,
// whatever the timing.
enum class SegmentChoice {
  Measured,      // the segment plan; the coder never waits for a worker
  Recorded,      // workers record every segment; the coder waits for each
  RecordedLate,  // the same, but the coder searches the first quarter itself
  Alternating,   // three segments the coder's, its input past the ring, then one recorded
  Crowded,       // the segment plan, as if the workers ran on the coder's processor
};

struct FlateThreadsOptions {
  std::uint64_t segment_bytes = kFlateSegmentBytes;
  SegmentChoice choice = SegmentChoice::Measured;
};

// Compresses one member at level 4 to 8 with up to `workers` parse threads
// beside the calling thread, which reads the input and codes the blocks. The
// workers start once the member is long enough to need them. Where no
// thread, or not the memory for them, can be had, the calling thread does
// all the work: the same stream.
FlateOutcome flate_member_threads(const FlateJob& job, unsigned workers,
                                  const FlateThreadsOptions& options = {});

}  // namespace vaultwick
