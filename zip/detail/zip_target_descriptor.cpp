#include "zip/detail/zip_target.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/files.h"

namespace vaultwick {

namespace {

// A descriptor the writer owns: a file it created or a duplicate of the caller's.
class DescriptorTarget final : public ZipTarget {
 public:
  DescriptorTarget(int fd, bool seekable, std::uint64_t baseOffset)
      : fd_(fd), seekable_(seekable), baseOffset_(baseOffset) {}
  ~DescriptorTarget() override { static_cast<void>(release()); }

  bool seekable() const override { return seekable_; }
  std::uint64_t baseOffset() const override { return baseOffset_; }
  int descriptor() const override { return fd_; }

  std::uint32_t write(const std::uint8_t* data, std::uint32_t count, ZipResult&) override {
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t written = ::write(fd_, data + done, count - done);
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        break;
      }
      done += static_cast<std::uint32_t>(written);
    }
    return done;
  }

  bool seek(std::uint64_t position, ZipResult& sticky) override {
    if (!seekable_) {
      sticky = ZipResult::SeekImpossible;
      return false;
    }
    return lseek(fd_, static_cast<off_t>(position + baseOffset_), SEEK_SET) >= 0;
  }

  bool readBack(std::uint64_t position, std::uint8_t* data, std::uint32_t count) override {
    if (!seekable_) {
      return false;
    }
    // The archive is usually open for writing only; the file it names is opened
    // again for reading the first time a read is needed.
    if (readFd_ < 0 && !readable(fd_)) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      readFd_ = open(self.c_str(), O_RDONLY | O_CLOEXEC);
      if (readFd_ < 0) {
        return false;
      }
    }
    const int from = readFd_ >= 0 ? readFd_ : fd_;
    return ReadAt(from, data, count, position + baseOffset_) == count;
  }

  bool release() override {
    if (readFd_ >= 0) {
      ::close(readFd_);
      readFd_ = -1;
    }
    if (fd_ < 0) {
      return true;
    }
    // Not retried on EINTR: the descriptor is gone whatever close answers.
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  static bool readable(int fd) {
    const int mode = fcntl(fd, F_GETFL) & O_ACCMODE;
    return mode == O_RDWR || mode == O_RDONLY;
  }

  int fd_;
  int readFd_ = -1;
  bool seekable_;
  std::uint64_t baseOffset_;
};

bool isRegularFile(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// The target owns `fd` from here on; without memory for it, `fd` is closed at once.
std::unique_ptr<ZipTarget> adoptDescriptor(int fd, bool seekable, std::uint64_t base,
                                           ZipResult& result) {
  std::unique_ptr<ZipTarget> target(new (std::nothrow) DescriptorTarget(fd, seekable, base));
  if (!target) {
    close(fd);
  }
  result = target ? ZipResult::Ok : ZipResult::NoMemory;
  return target;
}

}  // namespace

std::unique_ptr<ZipTarget> openFileNameTarget(const char* path, ZipResult& result) {
  const int fd = path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    result = ZipResult::CannotOpen;
    return nullptr;
  }
  // A path may name a pipe or a device too; only a regular file can be rewritten.
  const bool seekable = isRegularFile(fd) && lseek(fd, 0, SEEK_CUR) >= 0;
  return adoptDescriptor(fd, seekable, 0, result);
}

std::unique_ptr<ZipTarget> openHandleTarget(const int* fd, ZipResult& result) {
  const int copy = fd == nullptr ? -1 : fcntl(*fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    result = ZipResult::DuplicateFailed;
    return nullptr;
  }
  std::uint64_t base = 0;
  bool seekable = false;
  if (isRegularFile(copy)) {
    // A file opened for appending writes at its end whatever the position, so a
    // header cannot be rewritten in place: it is written forward like a pipe, and
    // its offsets count from where the archive begins, at the current end.
    const bool appending = (fcntl(copy, F_GETFL) & O_APPEND) != 0;
    const off_t position = lseek(copy, 0, appending ? SEEK_END : SEEK_CUR);
    seekable = position >= 0 && !appending;
    base = position >= 0 ? static_cast<std::uint64_t>(position) : 0;
  }
  return adoptDescriptor(copy, seekable, base, result);
}

}  // namespace vaultwick
