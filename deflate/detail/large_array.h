#pragma once

// Arrays the threaded compressor holds for a whole member (its input ring,
// record buffers, the workers' states): asked for in 2 MiB pages where the
// system offers them. Each page a process touches first costs a fault, and
// a member touches these arrays once through: on some virtual machines
// faulting in a MiB of small pages costs as much as compressing a MiB of
// long runs.

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace vaultwick {

inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// `bytes` (rounded up to whole large pages), not zeroed; throws
// std::bad_alloc.
void* AllocateLargeBytes(std::size_t bytes);
void FreeLargeBytes(void* block) noexcept;

template <class T>
struct LargeDeleter {
  void operator()(T* block) const noexcept {
    block->~T();
    FreeLargeBytes(block);
  }
};
template <class T>
struct LargeDeleter<T[]> {
  void operator()(T* block) const noexcept { FreeLargeBytes(block); }
};

template <class T>
using LargePtr = std::unique_ptr<T, LargeDeleter<T>>;

// `count` elements, not initialised: each is written before it is read.
template <class T>
LargePtr<T[]> AllocateLargeArray(std::size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T> &&
                std::is_trivially_destructible_v<T>);
  return LargePtr<T[]>(static_cast<T*>(AllocateLargeBytes(count * sizeof(T))));
}

// One value-initialised T.
template <class T>
LargePtr<T> AllocateLargeValue() {
  void* block = AllocateLargeBytes(sizeof(T));
  return LargePtr<T>(new (block) T());
}

}  // namespace vaultwick
