#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/deflate/flate_harness.h"

namespace vaultwick {
namespace {

constexpr std::uint64_t kSmallSegments = 128 << 10;  // many segment boundaries per input

// ThreadSanitizer makes compression some forty times slower: there the
// inputs shrink, still crossing several segment boundaries each.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kShrink = 4;
#else
constexpr std::size_t kShrink = 1;
#endif

constexpr std::size_t sized(std::size_t bytes) {
  return bytes / kShrink;
}

TEST(Threads, TwoMembersAtOnceGiveTheSameBytesAsOneAfterTheOther) {
  const auto first = test::english_text(sized(1 << 20), 31);
  const auto second = test::source_code(sized(1 << 20));
  const auto first_alone = test::compress(first, 8);
  const auto second_alone = test::compress(second, 4);

  test::Compressed first_together;
  test::Compressed second_together;
  std::thread a([&] { first_together = test::compress(first, 8); });
  std::thread b([&] { second_together = test::compress(second, 4); });
  a.join();
  b.join();

  EXPECT_EQ(first_together.error_text, nullptr);
  EXPECT_EQ(second_together.error_text, nullptr);
  EXPECT_TRUE(first_together.bytes == first_alone.bytes);
  EXPECT_TRUE(second_together.bytes == second_alone.bytes);
}

// The threaded compressor must give the one-thread stream byte for byte:
// same bytes, same size returned, same hand-overs to the writer. Which
// segments the coder follows, and where it meets them, depends on timing
// with the measured plan; the forced choices make it follow every segment,
// from its start or from within.
void expect_one_thread_stream(const std::vector<std::uint8_t>& input, int level,
                              const std::string& name, test::HarnessOptions options = {}) {
  SCOPED_TRACE(name + " at level " + std::to_string(level));
  const auto alone = test::compress(input, level, options);
  ASSERT_EQ(alone.error_text, nullptr);
  for (unsigned threads : {2u, 3u}) {
    for (SegmentChoice choice : {SegmentChoice::Measured, SegmentChoice::Recorded,
                                 SegmentChoice::RecordedLate, SegmentChoice::Alternating}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, choice " +
                   std::to_string(static_cast<int>(choice)));
      options.threads = threads;
      options.segment_bytes = kSmallSegments;
      options.choice = choice;
      const auto out = test::compress(input, level, options);
      EXPECT_EQ(out.error_text, nullptr);
      EXPECT_EQ(out.returned_size, alone.returned_size);
      EXPECT_TRUE(out.bytes == alone.bytes);
      EXPECT_TRUE(out.piece_sizes == alone.piece_sizes);
      EXPECT_EQ(out.flags, alone.flags);
    }
  }
}

TEST(Threads, RealDataGivesTheOneThreadStream) {
  const auto sql = test::sql_dump(sized(2 << 20));
  for (int level : {4, 5, 6, 7, 8}) {
    expect_one_thread_stream(sql, level, "sql dump");
  }
  expect_one_thread_stream(test::english_text(sized(1 << 20), 3), 8, "text");
  expect_one_thread_stream(test::binary_records(sized(1 << 20)), 8, "binary records");
  if (kShrink != 1) {
    return;
  }
  // The product's segment size, on an input that spans several.
  test::HarnessOptions product;
  product.threads = 2;
  product.segment_bytes = 1 << 20;
  const auto big = test::sql_dump((5 << 20) / 2);
  EXPECT_TRUE(test::compress(big, 8, product).bytes == test::compress(big, 8).bytes);
}

// Random bytes of `period` again and again, whole copies to at least `size`.
std::vector<std::uint8_t> periodic(std::size_t period, std::size_t size) {
  const auto pattern = test::random_bytes(period, static_cast<std::uint32_t>(period));
  std::vector<std::uint8_t> out;
  while (out.size() < size) {
    out.insert(out.end(), pattern.begin(), pattern.end());
  }
  return out;
}

// Inputs on which parses started at different places may take long to meet,
// or never do: runs, periods that fit a match exactly or not at all, input
// without matches, blocks that get stored.
TEST(Threads, AdversarialDataGivesTheOneThreadStream) {
  expect_one_thread_stream(std::vector<std::uint8_t>(sized(600000), 0), 8, "zeros");
  expect_one_thread_stream(test::byte_runs(sized(600000), 9), 8, "byte runs");
  expect_one_thread_stream(test::random_bytes(sized(500000), 4), 8, "random");
  for (std::size_t period : {2u, 3u, 7u, 258u, 259u, 32769u}) {
    expect_one_thread_stream(periodic(period, sized(400000)), 8,
                             "period " + std::to_string(period));
  }
  std::vector<std::uint8_t> mixed;
  for (std::uint32_t i = 0; mixed.size() < sized(700000); ++i) {
    const auto part = i % 2 ? test::random_bytes(30000, i) : test::english_text(50000, i);
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  expect_one_thread_stream(mixed, 6, "text and random in turns");
}

// Where workers take the coder's processor (other programs on the other
// cores) the coder searches alone for growing stretches between retries, its
// input switching between the ring and the caller's reads at each.
TEST(Threads, CrowdedCoderGivesTheOneThreadStream) {
  test::HarnessOptions options;
  options.threads = 2;
  options.segment_bytes = kSmallSegments;
  options.choice = SegmentChoice::Crowded;
  const std::pair<const char*, std::vector<std::uint8_t>> inputs[] = {
      {"random", test::random_bytes(sized(3 << 20), 8)},
      {"zeros", std::vector<std::uint8_t>(sized(2 << 20), 0)},
      {"period 3", periodic(3, sized(2 << 20))},
      {"period 258", periodic(258, sized(2 << 20))},
      {"sql dump", test::sql_dump(sized(3 << 20))},
  };
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    const auto out = test::compress(input, 8, options);
    EXPECT_EQ(out.error_text, nullptr);
    EXPECT_TRUE(out.bytes == test::compress(input, 8).bytes);
  }
}

// Members that end on, just before or just after a segment boundary, the
// point where a worker stops, or where the window slides near the end.
TEST(Threads, EveryLengthAroundSegmentBoundariesGivesTheOneThreadStream) {
  const auto text = test::english_text(2 * kSmallSegments + 50000, 7);
  for (std::size_t size : {0ul, 1ul, 2ul, 3ul, 300ul, 65536ul}) {
    expect_one_thread_stream({text.begin(), text.begin() + size}, 8, std::to_string(size));
  }
  // Where the first segment ends, and where its worker stops (8 KiB on).
  for (std::uint64_t boundary : {kSmallSegments, kSmallSegments + 8192}) {
    for (std::int64_t delta : {-263, -262, -1, 0, 1, 262}) {
      const auto size = static_cast<std::size_t>(static_cast<std::int64_t>(boundary) + delta);
      expect_one_thread_stream({text.begin(), text.begin() + size}, 8, std::to_string(size));
    }
  }
}

// Found by the fuzzer: where the parses meet, the coder may hold another
// match position than the worker did, so a search that found the position
// the worker already held must still pass it on.
TEST(Threads, MatchPositionFoundAgainReachesTheCoder) {
  const auto member =
      test::repeated_with_changes({0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xed, 0x5a}, 521477);
  expect_one_thread_stream(member, 6, "period 9");
}

TEST(Threads, InputInOneBytePiecesGivesTheOneThreadStream) {
  test::HarnessOptions options;
  options.read_piece = 1;
  expect_one_thread_stream(test::english_text(sized(600000), 11), 8, "one-byte pieces", options);
}

TEST(Threads, FastLevelsIgnoreTheThreadCount) {
  const auto text = test::english_text(300000, 12);
  test::HarnessOptions options;
  options.threads = 2;
  EXPECT_TRUE(test::compress(text, 2, options).bytes == test::compress(text, 2).bytes);
}

}  // namespace
}  // namespace vaultwick
