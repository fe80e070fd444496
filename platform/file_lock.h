#pragma once

// An advisory lock on a file: one holder at a time, whichever process it is
// in (two holders in one process exclude each other too), and the kernel
// releases it when the holder's process ends, however it ends, so a killed
// program never leaves it taken. It keeps out only those who ask for it.

#include <string>

namespace vaultwick {

class FileLock {
 public:
  enum class State { Held, Busy, Failed };

  // Tries once, without waiting, to take the lock of `path`. The file is
  // made (0600) when missing, and so is its folder (0700), but never
  // removed: a file removed while another process opens it would let two
  // holders lock two different files of one name.
  static FileLock TryTake(const std::string& path);

  // A lock moved from holds nothing.
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Releases a lock still held.
  ~FileLock();

  State state() const { return state_; }
  bool held() const { return state_ == State::Held; }
  // The errno value of the step that failed (Failed only), else 0.
  int error() const { return error_; }

 private:
  FileLock(State state, int fd, int error) : state_(state), fd_(fd), error_(error) {}

  State state_;
  int fd_;
  int error_;
};

}  // namespace vaultwick
