#include "zip/detail/zip_source.h"

#include <algorithm>
#include <cstring>

#include "zip/zip_format.h"

namespace vaultwick {

namespace {

class MemorySource final : public ZipSource {
 public:
  MemorySource(const std::uint8_t* data, std::uint32_t length) : data_(data), length_(length) {}

  std::uint32_t read(std::uint8_t* destination, std::uint32_t count) override {
    const std::uint32_t take = std::min(count, length_ - position_);
    std::memcpy(destination, data_ + position_, take);
    position_ += take;
    return take;
  }

 private:
  const std::uint8_t* data_;
  std::uint32_t length_;
  std::uint32_t position_ = 0;
};

}  // namespace

std::unique_ptr<ZipSource> openMemorySource(const void* data, std::uint32_t length,
                                            MemberFacts& facts, ZipResult& result) {
  if (data == nullptr || length == 0) {
    result = ZipResult::BadArguments;
    return nullptr;
  }
  facts = streamFacts(zip_format::attributes::kStream, length);
  result = ZipResult::Ok;
  return std::make_unique<MemorySource>(static_cast<const std::uint8_t*>(data), length);
}

}  // namespace vaultwick
