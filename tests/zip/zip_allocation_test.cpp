// The writer promises never to throw: with any one allocation failing, opening and
// adding answer a code, and nothing stays open.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "tests/zip/zip_test_support.h"
#include "zip/zip_writer.h"

// The replaced operators below pair operator new with free() by design.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// While not negative: the number of allocations that still succeed before one fails.
thread_local long allocationsBeforeFailure = -1;

void* allocate(std::size_t size) {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    return nullptr;
  }
  if (allocationsBeforeFailure > 0) {
    --allocationsBeforeFailure;
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
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
