#include <gtest/gtest.h>

#include <vector>

#include "tests/deflate/flate_harness.h"
#include "tests/deflate/zlib_oracle.h"

namespace vaultwick {
namespace {

// While blocks are coded, the output buffer reaches the writer only when
// full (16383 or 16384 bytes); shorter pieces come only around stored blocks
// (the bytes waiting before one, then its LEN and NLEN, then its data, which
// bypasses the buffer) and at the end of the member.
void expect_buffer_rhythm(const test::Compressed& out) {
  const auto& sizes = out.piece_sizes;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE("piece " + std::to_string(i) + " of " + std::to_string(sizes.size()));
    if (!out.piece_from_buffer[i]) {
      ASSERT_GE(i, 1u);
      EXPECT_EQ(sizes[i - 1], 4u);  // LEN and NLEN
      continue;
    }
    const bool last = i + 1 == sizes.size();
    const bool before_stored =
        i + 2 < sizes.size() && !out.piece_from_buffer[i + 2] && sizes[i + 1] == 4;
    const bool len_nlen = i + 1 < sizes.size() && !out.piece_from_buffer[i + 1];
    if (!last && !before_stored && !len_nlen) {
      EXPECT_TRUE(sizes[i] == 16383 || sizes[i] == 16384) << sizes[i];
    }
  }
}

TEST(Output, FullBuffersOf16383Or16384Bytes) {
  const auto text = test::english_text(3 << 20, 21);
  const auto out = test::compress(text, 8);
  ASSERT_GT(out.piece_sizes.size(), 10u);
  expect_buffer_rhythm(out);

  std::vector<std::uint8_t> mixed;
  for (std::uint32_t i = 0; i < 12; ++i) {
    const auto part = i % 3 ? test::english_text(70000, i) : test::random_bytes(50000, i);
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  const auto mixed_out = test::compress(mixed, 8);
  EXPECT_NE(
      std::find(mixed_out.piece_from_buffer.begin(), mixed_out.piece_from_buffer.end(), false),
      mixed_out.piece_from_buffer.end());
  expect_buffer_rhythm(mixed_out);
}

TEST(Output, RefusedWritesFailTheMemberAndCompressionRunsToTheEnd) {
  const auto text = test::english_text(300000, 5);
  const auto random = test::random_bytes(150000, 6);
  for (std::uint32_t accepted : {0u, 1u, 20000u, 40000u}) {
    for (const auto* input : {&text, &random}) {
      test::HarnessOptions options;
      options.refuse_writes_after = accepted;
      const auto out = test::compress(*input, 8, options);
      EXPECT_STREQ(out.error_text, "output write failed") << "accepted " << accepted;
      EXPECT_LE(out.bytes.size(), accepted);
    }
  }
  // A small buffer makes hand-overs frequent; it must never be overrun.
  test::HarnessOptions tiny;
  tiny.buffer_size = 2;
  tiny.refuse_writes_after = 100;
  EXPECT_STREQ(test::compress(text, 4, tiny).error_text, "output write failed");
}

TEST(Output, AnyBufferSizeFromTwoBytesUpGivesTheSameStream) {
  const auto text = test::english_text(100000, 8);
  const auto reference = test::compress(text, 8);
  for (std::uint32_t size : {2u, 3u, 1000u, 65536u}) {
    test::HarnessOptions options;
    options.buffer_size = size;
    const auto out = test::compress(text, 8, options);
    EXPECT_EQ(out.error_text, nullptr);
    EXPECT_TRUE(out.bytes == reference.bytes) << "buffer of " << size;
  }
}

}  // namespace
}  // namespace vaultwick
