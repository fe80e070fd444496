#include "zip/detail/zip_source.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <new>

#include "zip/zip_format.h"

namespace vaultwick {

namespace {

class DescriptorSource final : public ZipSource {
 public:
  DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~DescriptorSource() override {
    if (owned_) {
      close(fd_);
    }
  }

  std::uint32_t read(std::uint8_t* destination, std::uint32_t count) override {
    for (;;) {
      const ssize_t got = ::read(fd_, destination, count);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      return got >= 0 ? static_cast<std::uint32_t>(got) : kSourceReadFailed;
    }
  }

  int descriptor() const override { return fd_; }

 private:
  int fd_;
  bool owned_;
};

// Facts and starting position of a descriptor, owned or not.
ZipResult prepareDescriptor(int fd, std::uint32_t sizeHint, MemberFacts& facts) {
  if (fd < 0 || fcntl(fd, F_GETFD) < 0) {
    return ZipResult::BadArguments;
  }
  if (isDiskFile(fd)) {
    const ZipResult result = readFileFacts(fd, facts);
    if (result != ZipResult::Ok) {
      return result;
    }
    lseek(fd, 0, SEEK_SET);
    return ZipResult::Ok;
  }
  const std::int64_t expected = sizeHint != 0 ? static_cast<std::int64_t>(sizeHint) : -1;
  facts = streamFacts(zip_format::attributes::kStream, expected);
  return ZipResult::Ok;
}

}  // namespace

int openKeepingAccessTime(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOATIME);
  if (fd < 0 && errno == EPERM) {
    return open(path, O_RDONLY | O_CLOEXEC);  // not the file's owner: its access time may move
  }
  return fd;
}

std::unique_ptr<ZipSource> openFileNameSource(const char* path, MemberFacts& facts,
                                              ZipResult& result) {
  if (path == nullptr) {
    result = ZipResult::BadArguments;
    return nullptr;
  }
  const int fd = openKeepingAccessTime(path);
  if (fd < 0) {
    result = ZipResult::CannotOpen;
    return nullptr;
  }
  result = prepareDescriptor(fd, 0, facts);
  std::unique_ptr<ZipSource> source;
  if (result == ZipResult::Ok) {
    source.reset(new (std::nothrow) DescriptorSource(fd, true));
    result = source ? ZipResult::Ok : ZipResult::NoMemory;
  }
  if (!source) {
    close(fd);
  }
  return source;
}

std::unique_ptr<ZipSource> openHandleSource(const int* fd, std::uint32_t sizeHint,
                                            MemberFacts& facts, ZipResult& result) {
  result = fd == nullptr ? ZipResult::BadArguments : prepareDescriptor(*fd, sizeHint, facts);
  if (result != ZipResult::Ok) {
    return nullptr;
  }
  return std::make_unique<DescriptorSource>(*fd, false);
}

}  // namespace vaultwick
