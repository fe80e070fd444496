#include "zip/growing_file_end.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vaultwick {

GrowingFileEnd::GrowingFileEnd() : event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

GrowingFileEnd::~GrowingFileEnd() {
  if (event_ >= 0) {
    close(event_);
  }
}

void GrowingFileEnd::finish(bool complete) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.load() != State::Growing) {
      return;
    }
    state_.store(complete ? State::Complete : State::Abandoned);
  }
  finished_.notify_all();
  if (event_ >= 0) {
    const std::uint64_t one = 1;
    static_cast<void>(write(event_, &one, sizeof one));
  }
}

void GrowingFileEnd::waitFinished() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return state_.load() != State::Growing; });
}

}  // namespace vaultwick
