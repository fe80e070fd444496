#pragma once

// A file descriptor closed on every way out.

#include <errno.h>
#include <unistd.h>

namespace vaultwick {

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Reset(int fd) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }
  // Closes now and reports the close's own failure, which for some file
  // systems is where a write error first shows.
  int Close() {
    if (fd_ < 0) {
      return 0;
    }
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace vaultwick
