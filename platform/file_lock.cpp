#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/files.h"

namespace vaultwick {

FileLock FileLock::TryTake(const std::string& path) {
  if (::mkdir(FolderOf(path).c_str(), 0700) != 0 && errno != EEXIST) {
    return FileLock(State::Failed, -1, errno);
  }
  // Closed on exec, so that a program the holder starts (and which may
  // outlive it) never keeps the lock.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return FileLock(State::Failed, -1, errno);
  }
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? FileLock(State::Busy, -1, 0) : FileLock(State::Failed, -1, error);
  }
  return FileLock(State::Held, fd, 0);
}

FileLock::FileLock(FileLock&& other) noexcept
    : state_(other.state_), fd_(std::exchange(other.fd_, -1)), error_(other.error_) {
  other.state_ = State::Failed;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    state_ = std::exchange(other.state_, State::Failed);
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

// Closing the only descriptor of the open file releases the lock.
FileLock::~FileLock() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

}  // namespace vaultwick
