// The writer promises never to throw: with any one allocation failing, opening and
// adding answer a code, and nothing stays open.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>

#include "tests/support/allocation_shim.h"
#include "tests/zip/zip_test_support.h"
#include "zip/zip_writer.h"

namespace {

// While not negative: the number of allocations that still succeed before one fails.
thread_local long allocationsBeforeFailure = -1;

}  // namespace

bool vaultwick::test::RefuseAllocation(std::size_t) {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    return true;
  }
  if (allocationsBeforeFailure > 0) {
    --allocationsBeforeFailure;
  }
  return false;
}

namespace vaultwick {
namespace {

int lowestFreeDescriptor() {
  const int fd = open("/dev/null", O_RDONLY);
  close(fd);
  return fd;
}

TEST(ZipAllocation, EachFailedAllocationAnswersACode) {
  testing::ScratchDir dir;
  const std::string archive = dir.path("a.zip");
  const std::string source = dir.path("data.sql");
  testing::writeFile(source, testing::textContent(10000, 1));
  const int freeDescriptor = lowestFreeDescriptor();
  for (long failAt = 0;; ++failAt) {
    allocationsBeforeFailure = failAt;
    ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
    const ZipResult opened = lastZipResult.load();
    const ZipResult added = handle == nullptr ? opened
                                              : addZipMember(handle, "data.sql", source.c_str(), 0,
                                                             ZipSourceKind::FileName);
    const bool failureInjected = allocationsBeforeFailure < 0;
    allocationsBeforeFailure = -1;
    if (handle != nullptr) {
      EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok) << failAt;
    }
    EXPECT_EQ(lowestFreeDescriptor(), freeDescriptor) << failAt;
    if (!failureInjected) {
      EXPECT_EQ(added, ZipResult::Ok);
      EXPECT_GT(failAt, 2);
      break;
    }
    // The compressor reports its own state's allocation as its failure.
    EXPECT_TRUE(added == ZipResult::NoMemory || added == ZipResult::DeflateFailed)
        << failAt << " " << static_cast<std::uint32_t>(added);
  }
}

}  // namespace
}  // namespace vaultwick
