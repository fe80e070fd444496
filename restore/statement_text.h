#pragma once

// The text of one statement, grown in place. A statement can be hundreds of
// megabytes (a row with a large BLOB): growing a std::string copies it into
// a new buffer while the old one is still held, twice the statement at once.
// Grown by realloc, a large buffer is remapped instead of copied, and the
// part of it not yet written takes no memory: the statement is held once.

#include <cstddef>
#include <string_view>

namespace vaultwick {

class StatementText {
 public:
  StatementText() = default;
  explicit StatementText(std::string_view text) { append(text); }
  StatementText(const StatementText& other) : StatementText(other.view()) {}
  StatementText(StatementText&& other) noexcept;
  StatementText& operator=(StatementText&& other) noexcept;
  StatementText& operator=(const StatementText&) = delete;
  ~StatementText();

  // Throws std::bad_alloc when there is no room.
  void append(std::string_view text);
  void push_back(char c) { append(std::string_view(&c, 1)); }
  // Cuts the text to its first `size` bytes (at most size()).
  void resize(std::size_t size) { size_ = size < size_ ? size : size_; }
  // Empty, the buffer kept for the next statement.
  void clear() { size_ = 0; }

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT: used as text everywhere

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vaultwick
