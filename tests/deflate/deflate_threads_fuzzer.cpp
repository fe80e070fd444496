// Fuzz target: the threaded compressor against the one-thread compressor as
// its oracle. The first byte picks the level (4 to 8), the thread count and
// who parses which segment (a member this short seldom keeps the coder busy
// long enough for the measured plan to start workers), the second the
// member's length; the rest is a pattern that is repeated,
// with one byte changed in each copy, into a member that spans several
// segments of 128 KiB, so that parses started at segment starts must meet
// the whole parse (or the coder must search on its own) on data the fuzzer
// shapes. The streams must be equal byte for byte.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/deflate/flate_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const int level = 4 + data[0] % 5;
  const unsigned threads = 2 + (data[0] >> 7);
  const std::size_t length = (128 << 10) + static_cast<std::size_t>(data[1]) * 1531;
  const auto member = vaultwick::test::repeated_with_changes({data + 2, data + size}, length);

  vaultwick::test::HarnessOptions options;
  options.threads = threads;
  options.segment_bytes = 128 << 10;
  options.choice = static_cast<vaultwick::SegmentChoice>((data[0] >> 5) & 3);
  const auto threaded = vaultwick::test::compress(member, level, options);
  const auto alone = vaultwick::test::compress(member, level);
  if (threaded.error_text != nullptr || threaded.bytes != alone.bytes ||
      threaded.returned_size != alone.returned_size) {
    std::fprintf(stderr, "threaded stream differs (level %d, %u threads, %zu bytes): %s\n", level,
                 threads, member.size(), threaded.error_text ? threaded.error_text : "bytes");
    std::abort();
  }
  return 0;
}
