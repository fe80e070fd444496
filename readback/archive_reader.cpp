#include "readback/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/time_zone_lock.h"

namespace vaultwick {

namespace {

constexpr std::size_t kReadBlock = 1 << 16;

// libarchive hands a member's name over in the calling thread's character
// set, converted from the UTF-8 the archive marks it as. A program that never
// chose a locale has ASCII, in which every name beyond it fails to convert
// (and the member with it). Each call into libarchive therefore runs with
// UTF-8 as the thread's character set, whatever the process's locale: names
// come through as the bytes the archive holds.
class Utf8Names {
 public:
  Utf8Names() : previous_(Locale() != nullptr ? ::uselocale(Locale()) : nullptr) {}
  ~Utf8Names() {
    if (previous_ != nullptr) {
      ::uselocale(previous_);
    }
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  // Made once and kept for the process's life; null where the C library
  // has no C.UTF-8 (names beyond ASCII then need a UTF-8 locale).
  static locale_t Locale() {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return utf8;
  }

  const locale_t previous_;
};

}  // namespace

std::unique_ptr<ArchiveReader> ArchiveReader::Open(const std::string& path, std::string* error,
                                                   const std::string& password) {
  return OpenWith(
      [&](struct archive* handle) {
        return archive_read_open_filename(handle, path.c_str(), kReadBlock);
      },
      password, error);
}

std::unique_ptr<ArchiveReader> ArchiveReader::Open(int fd, std::string* error,
                                                   const std::string& password) {
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    *error = std::string("cannot be read: ") + std::strerror(errno);
    return nullptr;
  }
  return OpenWith(
      [&](struct archive* handle) { return archive_read_open_fd(handle, fd, kReadBlock); },
      password, error);
}

std::unique_ptr<ArchiveReader> ArchiveReader::OpenWith(
    const std::function<int(struct archive*)>& open, const std::string& password,
    std::string* error) {
  Utf8Names utf8;
  struct archive* handle = archive_read_new();
  if (handle == nullptr) {
    *error = "Out of memory";
    return nullptr;
  }
  // Only the reader that starts from the central directory: a streaming one
  // would accept an archive cut off after its last member's data.
  // Opening reads the central directory, whose times libarchive converts
  // after a tzset of its own.
  std::unique_lock<std::mutex> timeZone(TimeZoneLock());
  if (archive_read_support_format_zip_seekable(handle) != ARCHIVE_OK ||
      (!password.empty() && archive_read_add_passphrase(handle, password.c_str()) != ARCHIVE_OK) ||
      open(handle) != ARCHIVE_OK) {
    // libarchive names a file it could not read without the reason, and says
    // no more than "Unrecognized archive format" of one that has no whole
    // central directory and end record.
    const int code = archive_errno(handle);
    if (code == EILSEQ || code == 0) {
      *error = "not a whole ZIP archive (cut short, damaged or no archive at all)";
    } else {
      *error = std::string("cannot be opened: ") + std::strerror(code);
    }
    archive_read_free(handle);
    return nullptr;
  }
  return std::unique_ptr<ArchiveReader>(new ArchiveReader(handle));
}

ArchiveReader::~ArchiveReader() {
  Utf8Names utf8;
  archive_read_free(handle_);
}

void ArchiveReader::Fail(const char* what) {
  const char* text = archive_error_string(handle_);
  error_ = text != nullptr ? text : "";
  // Some of libarchive's reasons end with a line break; the reason goes on
  // into longer messages.
  error_.erase(error_.find_last_not_of(" \n") + 1);
  if (error_.empty()) {
    error_ = what;
  }
}

std::optional<ArchiveReader::Member> ArchiveReader::Next() {
  if (Failed()) {
    return std::nullopt;
  }
  Utf8Names utf8;
  struct archive_entry* entry = nullptr;
  std::unique_lock<std::mutex> timeZone(TimeZoneLock());
  const int got = archive_read_next_header(handle_, &entry);
  timeZone.unlock();
  if (got == ARCHIVE_EOF) {
    return std::nullopt;
  }
  if (got != ARCHIVE_OK) {
    Fail("Damaged member header");
    return std::nullopt;
  }
  Member member;
  const char* name = archive_entry_pathname(entry);
  member.name = name != nullptr ? name : "";
  if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) >= 0) {
    member.size = static_cast<std::uint64_t>(archive_entry_size(entry));
  }
  member.regularFile = archive_entry_filetype(entry) == AE_IFREG;
  member.encrypted = archive_entry_is_data_encrypted(entry) != 0;
  return member;
}

std::int64_t ArchiveReader::Read(std::uint8_t* buffer, std::size_t capacity) {
  if (Failed()) {
    return -1;
  }
  Utf8Names utf8;
  const la_ssize_t got = archive_read_data(handle_, buffer, capacity);
  if (got < 0) {
    Fail("Damaged member data");
    return -1;
  }
  return static_cast<std::int64_t>(got);
}

}  // namespace vaultwick
