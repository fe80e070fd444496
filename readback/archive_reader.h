#pragma once

// Reads a finished archive back through libarchive: its members in order and
// the inflated bytes of each. The archive is read as a whole file from its
// central directory, so one without its directory or end record does not open;
// every warning counts as a failure (a CRC-32 that does not match the data, a
// local header that disagrees with the directory). Encrypted members are read
// with the password given at opening; libarchive then proves each one's
// authentication code once its data has been read to the end. Member names
// are the bytes the archive holds, whatever the process's locale.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct archive;

namespace vaultwick {

class ArchiveReader {
 public:
  struct Member {
    std::string name;
    std::optional<std::uint64_t> size;  // inflated size, when the headers give it
    bool regularFile = true;
    bool encrypted = false;
  };

  // Null with the reason in *error when `path` cannot be read as a ZIP archive.
  // `password` (empty: none) opens encrypted members.
  static std::unique_ptr<ArchiveReader> Open(const std::string& path, std::string* error,
                                             const std::string& password = {});
  // The same for the open file `fd`, read from its start, so that two readers
  // in turn read the same file even when its path names another by then.
  // `fd` stays open; the caller closes it after the reader is gone.
  static std::unique_ptr<ArchiveReader> Open(int fd, std::string* error,
                                             const std::string& password = {});
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // The next member's header; nullopt at the end of the archive or on a
  // failure (Failed() tells which).
  std::optional<Member> Next();

  // Up to `capacity` inflated bytes of the member Next() gave last: 0 at its
  // end, -1 on a failure.
  std::int64_t Read(std::uint8_t* buffer, std::size_t capacity);

  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  explicit ArchiveReader(struct archive* handle) : handle_(handle) {}
  // `open` hands the new handle its source (a file name or descriptor).
  static std::unique_ptr<ArchiveReader> OpenWith(const std::function<int(struct archive*)>& open,
                                                 const std::string& password, std::string* error);
  void Fail(const char* what);

  struct archive* handle_;
  std::string error_;
};

}  // namespace vaultwick
