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
  // Copying up to this much costs nothing beside sending it; a text handed
  // over in a buffer of its own size costs the held statements no more than
  // its bytes and the allocator's header, however short and many they are.
  static constexpr std::size_t kLongestCopied = 64 << 10;

  StatementText() = default;
  explicit StatementText(std::string_view text) { CopyFrom(text); }
  // A copy takes a buffer of the text's own size.
  StatementText(const StatementText& other) : StatementText(other.view()) {}
  StatementText(StatementText&& other) noexcept;
  StatementText& operator=(StatementText&& other) noexcept;
  StatementText& operator=(const StatementText&) = delete;
  ~StatementText();

  // Throws std::bad_alloc when there is no room.
  void append(std::string_view text);
  void push_back(char c) { append(std::string_view(&c, 1)); }
  // Room for `capacity` bytes in all, taken now. Throws std::bad_alloc.
  void reserve(std::size_t capacity);
  // Cuts the text to its first `size` bytes (at most size()).
  void resize(std::size_t size) { size_ = size < size_ ? size : size_; }
  // Empty, the buffer kept for the next statement.
  void clear() { size_ = 0; }
  // The text, to be held while more is read into this one: a short text is
  // copied into a buffer of its own size (this buffer, larger, is kept for
  // the next text), a long one takes this buffer along (no copy of it).
  StatementText Handed();

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The bytes the buffer takes, written or not.
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT: used as text everywhere

 private:
  void CopyFrom(std::string_view text);
  void Grow(std::size_t capacity);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vaultwick
