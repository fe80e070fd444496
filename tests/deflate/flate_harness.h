#pragma once

// Runs the compressor over an in-memory input the way the archive writer
// does, and records everything it hands to write_output.

#include <cstdint>
#include <memory>
#include <vector>

#include "deflate/detail/flate_threads.h"
#include "deflate/flate.h"

namespace vaultwick::test {

struct Compressed {
  std::vector<std::uint8_t> bytes;         // everything write_output received, in order
  std::vector<std::uint32_t> piece_sizes;  // size of every non-empty write_output call
  std::vector<bool> piece_from_buffer;     // whether that piece came from the output buffer
  std::uint32_t returned_size = 0;         // what flate_run returned
  std::uint16_t flags = 0;                 // the general-purpose flag word after match_init
  const char* error_text = nullptr;
};

struct HarnessOptions {
  std::uint32_t buffer_size = 16384;
  std::uint32_t read_piece = 0xFFFFFFFF;            // largest piece read_input hands out at a time
  std::uint32_t refuse_writes_after = 0xFFFFFFFF;   // bytes accepted before writes fail
  void (*after_init)(FlateState* state) = nullptr;  // runs just before the parse starts
  unsigned threads = 1;                             // as FlateJob::threads
  std::uint64_t segment_bytes = 0;                  // threaded: input per parse job (0: 1 MiB)
  SegmentChoice choice = SegmentChoice::Measured;   // threaded: who parses which segment
};

Compressed compress(const std::vector<std::uint8_t>& input, int level,
                    const HarnessOptions& options = {});

// Inputs used by several tests; every generator is deterministic.
std::vector<std::uint8_t> bytes_of(const char* text);
std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed);
std::vector<std::uint8_t> english_text(std::size_t size, std::uint32_t seed);
std::vector<std::uint8_t> source_code(std::size_t size);
std::vector<std::uint8_t> skewed_bytes(std::size_t size);
std::vector<std::uint8_t> binary_records(std::size_t size);
// Runs of one byte, 1 to 700 long, with a few literal bytes between them.
std::vector<std::uint8_t> byte_runs(std::size_t size, std::uint32_t seed);
// `pattern` again and again, one byte changed in each copy, cut to `size`.
std::vector<std::uint8_t> repeated_with_changes(const std::vector<std::uint8_t>& pattern,
                                                std::size_t size);
// The benchmark's generated SQL dump.
std::vector<std::uint8_t> sql_dump(std::size_t size);

}  // namespace vaultwick::test
