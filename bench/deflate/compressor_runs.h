#pragma once

// Runs our compressor and zlib's over an input in memory, timed, for the
// deflate benchmarks. zlib is a peer to compare with, never part of the
// product.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vaultwick::bench {

struct Timed {
  std::size_t out_bytes = 0;
  double seconds = 0;      // wall time
  double cpu_seconds = 0;  // processor time of the whole process, every thread
};

// Room for any stream either compressor makes of `input_bytes`.
std::size_t SinkRoom(std::size_t input_bytes);

// Our compressor at level 8 with `threads` threads, driven as the archive
// writer drives it; the stream goes to `sink` (SinkRoom bytes). Exits the
// program if the compressor reports a failure.
Timed RunOurs(const std::vector<std::uint8_t>& input, unsigned threads,
              std::vector<std::uint8_t>& sink);

// zlib's raw deflate at `level`, on the calling thread.
Timed RunZlib(const std::vector<std::uint8_t>& input, int level, std::vector<std::uint8_t>& sink);

// The whole file, or false when it cannot be read.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes);

}  // namespace vaultwick::bench
