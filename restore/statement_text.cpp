#include "restore/statement_text.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace vaultwick {

namespace {

constexpr std::size_t kFirstCapacity = 4096;

}  // namespace

StatementText::StatementText(StatementText&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

StatementText& StatementText::operator=(StatementText&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

StatementText::~StatementText() {
  std::free(data_);
}

StatementText StatementText::Handed() {
  if (size_ > kLongestCopied) {
    return std::move(*this);
  }
  StatementText copy(*this);
  clear();
  return copy;
}

void StatementText::CopyFrom(std::string_view text) {
  if (text.empty()) {
    return;
  }
  data_ = static_cast<char*>(std::malloc(text.size()));
  if (data_ == nullptr) {
    throw std::bad_alloc();
  }
  std::memcpy(data_, text.data(), text.size());
  size_ = text.size();
  capacity_ = text.size();
}

void StatementText::reserve(std::size_t capacity) {
  if (capacity > capacity_) {
    Grow(capacity);
  }
}

void StatementText::Grow(std::size_t capacity) {
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr) {
    throw std::bad_alloc();
  }
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

void StatementText::append(std::string_view text) {
  if (text.size() > capacity_ - size_) {
    std::size_t capacity = capacity_ < kFirstCapacity ? kFirstCapacity : capacity_ * 2;
    if (capacity - size_ < text.size()) {
      capacity = size_ + text.size();
    }
    Grow(capacity);
  }
  if (!text.empty()) {
    std::memcpy(data_ + size_, text.data(), text.size());
    size_ += text.size();
  }
}

}  // namespace vaultwick
