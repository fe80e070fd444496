#include "zip/detail/zip_source.h"

// A file that another thread is still appending to, read as it grows.
//
// Reads go as far as the file has come; at its current end the source waits
// for the file to change (inotify) or to be finished (the end's event
// descriptor), whichever comes first. Whether the file is finished is looked
// at before each read, so the read after the finish sees every byte written
// before it. The file is opened without access-time updates: its facts, read
// only once the data has ended, are then those a reader of the finished file
// would have found first (modification time of the last append, access time
// of its creation).

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>

#include "zip/growing_file_end.h"

namespace vaultwick {

namespace {

class GrowingFileSource final : public ZipSource {
 public:
  GrowingFileSource(int fd, int watch, const GrowingFileEnd& end)
      : fd_(fd), watch_(watch), end_(end) {}
  ~GrowingFileSource() override {
    close(fd_);
    close(watch_);
  }

  std::uint32_t read(std::uint8_t* destination, std::uint32_t count) override {
    for (;;) {
      const GrowingFileEnd::State state = end_.state();
      const ssize_t got = ::read(fd_, destination, count);
      if (got > 0) {
        return static_cast<std::uint32_t>(got);
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0 || state == GrowingFileEnd::State::Abandoned) {
        return kSourceReadFailed;
      }
      if (state == GrowingFileEnd::State::Complete) {
        return 0;
      }
      if (!waitForChange()) {
        return kSourceReadFailed;
      }
    }
  }

  int descriptor() const override { return fd_; }

  bool finalFacts(MemberFacts& facts) override {
    return end_.state() == GrowingFileEnd::State::Complete &&
           readFileFacts(fd_, facts) == ZipResult::Ok;
  }

 private:
  // Waits until the file has changed or has been finished.
  bool waitForChange() {
    pollfd waits[2] = {{watch_, POLLIN, 0}, {end_.descriptor(), POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) {
      return false;
    }
    // Drop the change events that woke us; the next read looks for itself.
    alignas(inotify_event) char events[4096];
    while (::read(watch_, events, sizeof events) > 0) {
    }
    return true;
  }

  int fd_;
  int watch_;
  const GrowingFileEnd& end_;
};

}  // namespace

std::unique_ptr<ZipSource> openGrowingFileSource(const char* path, const GrowingFileEnd& end,
                                                 MemberFacts& facts, ZipResult& result) {
  result = ZipResult::CannotOpen;
  if (path == nullptr || end.descriptor() < 0) {
    result = ZipResult::BadArguments;
    return nullptr;
  }
  const int fd = openKeepingAccessTime(path);
  if (fd < 0) {
    return nullptr;
  }
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0 || inotify_add_watch(watch, path, IN_MODIFY | IN_CLOSE_WRITE) < 0 ||
      readFileFacts(fd, facts) != ZipResult::Ok) {
    if (watch >= 0) {
      close(watch);
    }
    close(fd);
    return nullptr;
  }
  // Its size is known only once it is finished.
  facts.expectedSize = -1;
  facts.exactSize = false;
  result = ZipResult::Ok;
  return std::make_unique<GrowingFileSource>(fd, watch, end);
}

}  // namespace vaultwick
