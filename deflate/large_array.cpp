#include "deflate/detail/large_array.h"

#include <sys/mman.h>

namespace vaultwick {

namespace {

constexpr std::align_val_t kAlignment{kLargePageBytes};

}  // namespace

void* AllocateLargeBytes(std::size_t bytes) {
  const std::size_t rounded = (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
  void* block = ::operator new(rounded, kAlignment);
  // Only advice: where the system has no large pages, small ones serve.
  madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

void FreeLargeBytes(void* block) noexcept {
  ::operator delete(block, kAlignment);
}

}  // namespace vaultwick
