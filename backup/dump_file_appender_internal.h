#pragma once

// Appends pieces of dump text to the dump file. Each piece is one
// open-append-close of the file, so a reader (or a crash) never sees the file
// held open, and the file never ends inside a statement as long as pieces end
// at statement boundaries. The text's LF line ends are written as CR LF; no
// other byte changes.

#include <string>
#include <string_view>

namespace vaultwick::dump {

class DumpFileAppender {
 public:
  explicit DumpFileAppender(const char* path) : path_(path) {}

  // Creates the file when missing and appends `text`. False when the file
  // could not be opened, written or closed; error() then holds the errno.
  bool Append(std::string_view text);
  int error() const { return error_; }

 private:
  const char* path_;
  int error_ = 0;
  std::string converted_;  // reused between pieces
};

}  // namespace vaultwick::dump
