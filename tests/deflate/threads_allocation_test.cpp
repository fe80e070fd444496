// A parse worker that cannot allocate its records leaves its segment to the
// coder's own search, workers that cannot have their states are not
// started, and a member that cannot have the memory for its input ring runs
// on the calling thread alone: whichever way, the stream stays the
// one-thread stream.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#include "deflate/detail/large_array.h"
#include "tests/deflate/flate_harness.h"
#include "tests/support/allocation_shim.h"

namespace {

constexpr std::size_t kSegmentBytes = 128 << 10;

// The threaded compressor's blocks for a whole member (its input ring, the
// workers' states, their record buffers) come in whole large pages: those
// are the allocations refused here. On the test's own thread the ring comes
// first, then the workers' states; the records are allocated on the
// workers' threads.
thread_local bool testThread = false;
std::atomic<int> testThreadBlocksBeforeRefusal{-1};  // -1: refuse none
std::atomic<bool> refuseRecords{false};
std::atomic<int> refused{0};

}  // namespace

bool vaultwick::test::RefuseAllocation(std::size_t size) {
  if (size == 0 || size % kLargePageBytes != 0) {
    return false;
  }
  const bool refuse =
      testThread ? testThreadBlocksBeforeRefusal.fetch_sub(1) == 0 : refuseRecords.load();
  if (refuse) {
    ++refused;
  }
  return refuse;
}

namespace vaultwick {
namespace {

class ThreadsAllocation : public testing::Test {
 protected:
  void SetUp() override {
    testThread = true;
    refused = 0;
    options_.threads = 2;
    options_.segment_bytes = kSegmentBytes;
    // Every segment is handed to a worker and waited for: each one asks
    // for its records, whatever the timing.
    options_.choice = SegmentChoice::Recorded;
  }
  void TearDown() override {
    testThreadBlocksBeforeRefusal = -1;
    refuseRecords = false;
  }

  void ExpectOneThreadStream(const std::vector<std::uint8_t>& input) {
    const auto alone = test::compress(input, 8);
    const auto out = test::compress(input, 8, options_);
    EXPECT_NE(refused.load(), 0) << "nothing was refused";
    EXPECT_EQ(out.error_text, nullptr);
    EXPECT_TRUE(out.bytes == alone.bytes);
  }

  test::HarnessOptions options_;
};

TEST_F(ThreadsAllocation, SegmentsWithoutRecordsAreSearchedByTheCoder) {
  refuseRecords = true;
  ExpectOneThreadStream(test::english_text(12 * kSegmentBytes + 5000, 17));
}

TEST_F(ThreadsAllocation, WorkersWithoutStatesLeaveEverySegmentToTheCoder) {
  testThreadBlocksBeforeRefusal = 1;  // the ring, then the first worker's state
  ExpectOneThreadStream(test::english_text(6 * kSegmentBytes + 300, 9));
}

TEST_F(ThreadsAllocation, MemberWithoutMemoryForItsRingRunsOnOneThread) {
  testThreadBlocksBeforeRefusal = 0;
  ExpectOneThreadStream(test::english_text(3 * kSegmentBytes + 700, 5));
}

}  // namespace
}  // namespace vaultwick
