#include "zip/detail/zip_target.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace vaultwick {

namespace {

// A block of memory: the caller's, or one the writer mapped and unmaps at close.
// The last byte of the block is never used.
class MemoryTarget final : public ZipTarget {
 public:
  MemoryTarget(std::uint8_t* block, std::uint32_t capacity, bool owned)
      : block_(block), capacity_(capacity), owned_(owned) {}
  ~MemoryTarget() override {
    if (owned_) {
      munmap(block_, capacity_);
    }
  }

  bool seekable() const override { return true; }
  void* memory() const override { return block_; }

  std::uint32_t write(const std::uint8_t* data, std::uint32_t count, ZipResult& sticky) override {
    if (static_cast<std::uint64_t>(position_) + count >= capacity_) {
      sticky = ZipResult::MemoryTooSmall;
      return 0;
    }
    std::memcpy(block_ + position_, data, count);
    position_ += count;
    return count;
  }

  bool seek(std::uint64_t position, ZipResult& sticky) override {
    if (position >= capacity_) {
      sticky = ZipResult::MemoryTooSmall;
      return false;
    }
    position_ = static_cast<std::uint32_t>(position);
    return true;
  }

  bool readBack(std::uint64_t position, std::uint8_t* data, std::uint32_t count) override {
    if (position + count > capacity_) {
      return false;
    }
    std::memcpy(data, block_ + position, count);
    return true;
  }

 private:
  std::uint8_t* block_;
  std::uint32_t capacity_;
  std::uint32_t position_ = 0;
  bool owned_;
};

}  // namespace

std::unique_ptr<ZipTarget> openMemoryTarget(void* buffer, std::uint32_t size, ZipResult& result) {
  if (size == 0) {
    result = ZipResult::MemoryTooSmall;
    return nullptr;
  }
  bool owned = false;
  if (buffer == nullptr) {
    buffer = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (buffer == MAP_FAILED) {
      result = ZipResult::NoMemory;
      return nullptr;
    }
    owned = true;
  }
  std::unique_ptr<ZipTarget> target(
      new (std::nothrow) MemoryTarget(static_cast<std::uint8_t*>(buffer), size, owned));
  if (!target && owned) {
    munmap(buffer, size);
  }
  result = target ? ZipResult::Ok : ZipResult::NoMemory;
  return target;
}

}  // namespace vaultwick
