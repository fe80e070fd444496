#include "backup/dump_file_appender_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vaultwick::dump {

bool DumpFileAppender::Append(std::string_view text) {
  converted_.clear();
  converted_.reserve(text.size() + text.size() / 32);
  std::size_t runStart = 0;
  while (runStart < text.size()) {
    const void* found = std::memchr(text.data() + runStart, '\n', text.size() - runStart);
    if (found == nullptr) {
      converted_.append(text.data() + runStart, text.size() - runStart);
      break;
    }
    std::size_t lineFeed = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    converted_.append(text.data() + runStart, lineFeed - runStart);
    converted_ += "\r\n";
    runStart = lineFeed + 1;
  }

  std::FILE* file = std::fopen(path_, "ab");
  if (file == nullptr) {
    error_ = errno;
    return false;
  }
  bool written = std::fwrite(converted_.data(), 1, converted_.size(), file) == converted_.size();
  if (!written) {
    error_ = errno;
  }
  bool closed = std::fclose(file) == 0;
  if (written && !closed) {
    error_ = errno;
  }
  if (written && closed) {
    return true;
  }
  if (error_ == 0) {
    error_ = EIO;
  }
  return false;
}

}  // namespace vaultwick::dump
