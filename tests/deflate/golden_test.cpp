// Whole streams pinned down: for a few inputs of 1 to 4 MiB and the levels
// that matter, the size and CRC-32 of the compressed stream as this
// compressor made them when the table was written. Any change to the parse,
// the block decisions or the bit packing shows up here, so work on speed can
// never alter the output unseen. A deliberate change of the output updates
// the table in the same commit and says why.

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "tests/deflate/flate_harness.h"

namespace vaultwick {
namespace {

struct Golden {
  int level;
  std::uint32_t size;
  std::uint32_t crc;
};

struct GoldenInput {
  const char* name;
  std::vector<std::uint8_t> (*make)();
  Golden expected[4];
};

const GoldenInput kInputs[] = {
    {"sql dump",
     [] { return test::sql_dump(4 << 20); },
     {{1, 948780, 0x61e8fb50},
      {4, 788990, 0x3337ab33},
      {6, 726974, 0xd234a784},
      {8, 712297, 0x57700829}}},
    {"text",
     [] { return test::english_text(2 << 20, 77); },
     {{1, 529277, 0x707f1b61},
      {4, 464244, 0x088d4f03},
      {6, 378941, 0xed8b309a},
      {8, 373689, 0xf1b1663b}}},
    {"binary records",
     [] { return test::binary_records(1 << 20); },
     {{1, 492733, 0xe27673cb},
      {4, 482220, 0x9d1a4bc9},
      {6, 479708, 0xd17dfb01},
      {8, 479530, 0x65a62e38}}},
    {"byte runs",
     [] { return test::byte_runs(1 << 20, 5); },
     {{1, 22510, 0x1f04c5a3},
      {4, 17374, 0x5cb0f2e2},
      {6, 17819, 0x1ea90ec9},
      {8, 16043, 0xfa9fd224}}},
};

TEST(Golden, StreamsAreTheOnesOnRecord) {
  for (const auto& input : kInputs) {
    const auto bytes = input.make();
    for (const auto& golden : input.expected) {
      const auto out = test::compress(bytes, golden.level);
      const auto crc = static_cast<std::uint32_t>(
          crc32(0, out.bytes.data(), static_cast<uInt>(out.bytes.size())));
      EXPECT_EQ(out.error_text, nullptr);
      EXPECT_TRUE(out.bytes.size() == golden.size && crc == golden.crc)
          << input.name << " at level " << golden.level << ": {" << golden.level << ", "
          << out.bytes.size() << ", 0x" << std::hex << crc << "}";
    }
  }
}

}  // namespace
}  // namespace vaultwick
