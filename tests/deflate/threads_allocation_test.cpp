// A parse worker that cannot allocate its records leaves its segment to the
// coder's own search, and a member that cannot have the memory for its
// threads runs on the calling thread alone: either way the stream stays the
// one-thread stream.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#include "tests/deflate/flate_harness.h"
#include "tests/support/allocation_shim.h"

namespace {

constexpr std::size_t kSegmentBytes = 128 << 10;
// A worker reserves records for a quarter of a segment's positions, 4 bytes
// each: one allocation of exactly this size per segment.
constexpr std::size_t kRecordsBytes = kSegmentBytes;
// The threads' input ring: a segment for each of two workers and four spare.
constexpr std::size_t kRingBytes = (2 + 4) * kSegmentBytes;

std::atomic<bool> armed{false};
std::atomic<bool> refuseRing{false};
// While armed: allocations of the records' size on threads other than the
// test's own that still succeed before every later one fails.
std::atomic<long> recordsBeforeFailure{0};
thread_local bool testThread = false;

}  // namespace

bool vaultwick::test::RefuseAllocation(std::size_t size) {
  if (testThread && size == kRingBytes && refuseRing.exchange(false)) {
    return true;
  }
  return !testThread && size == kRecordsBytes && armed.load() &&
         recordsBeforeFailure.fetch_sub(1) <= 0;
}

namespace vaultwick {
namespace {

// The coder follows the first segments' records, then meets segments that
// have none while the ones it left behind are released.
TEST(ThreadsAllocation, SegmentsWithoutRecordsGiveTheOneThreadStream) {
  testThread = true;
  const auto input = test::english_text(12 * kSegmentBytes + 5000, 17);
  const auto alone = test::compress(input, 8);
  test::HarnessOptions options;
  options.threads = 2;
  options.segment_bytes = kSegmentBytes;
  // Eight segments with records: released, they make up a whole block of the
  // queue that holds them, whose memory is then freed, so that the address
  // checker sees any reference to them that outlives their release.
  recordsBeforeFailure = 8;
  armed = true;
  const auto out = test::compress(input, 8, options);
  armed = false;
  EXPECT_LT(recordsBeforeFailure.load(), 0);
  EXPECT_EQ(out.error_text, nullptr);
  EXPECT_TRUE(out.bytes == alone.bytes);
}

TEST(ThreadsAllocation, MemberWithoutMemoryForItsThreadsRunsOnOneThread) {
  testThread = true;
  const auto input = test::english_text(3 * kSegmentBytes + 700, 5);
  const auto alone = test::compress(input, 8);
  test::HarnessOptions options;
  options.threads = 2;
  options.segment_bytes = kSegmentBytes;
  refuseRing = true;
  const auto out = test::compress(input, 8, options);
  EXPECT_FALSE(refuseRing.load()) << "the ring was never asked for";
  EXPECT_EQ(out.error_text, nullptr);
  EXPECT_TRUE(out.bytes == alone.bytes);
}

}  // namespace
}  // namespace vaultwick
