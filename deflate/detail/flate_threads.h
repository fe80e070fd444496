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

// Compresses one member at level 4 to 8 with `workers` parse threads beside
// the calling thread, which reads the input and codes the blocks. Where no
// thread, or not the memory for them, can be had, the member is compressed
// on the calling thread alone: the same stream.
FlateOutcome flate_member_threads(const FlateJob& job, unsigned workers,
                                  std::uint64_t segment_bytes = kFlateSegmentBytes);

}  // namespace vaultwick
