#include "backup/archive_packer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

namespace vaultwick {

namespace {

// More than a file system keeps free in a partly used block.
constexpr off_t kRoomAsked = 1 << 20;

}  // namespace

ArchivePacker::ArchivePacker(std::string dumpPath, std::string archivePath, StopToken stop,
                             unsigned threads, std::string password)
    : dumpPath_(std::move(dumpPath)),
      archivePath_(std::move(archivePath)),
      partPath_(archivePath_ + ".part"),
      stop_(std::move(stop)),
      threads_(threads),
      password_(std::move(password)) {
  // The modes the dump's own appends and the archive writer would create
  // them with.
  for (const std::string& path : {dumpPath_, partPath_}) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
    }
  }
  try {
    thread_ = std::thread([this] {
      result_ = ZipGrowingFile(dumpPath_.c_str(), partPath_.c_str(), end_, stop_, &written_,
                               threads_, Password());
    });
  } catch (const std::system_error&) {
    // No thread to spare: Finish packs the finished dump itself.
  }
}

ArchivePacker::~ArchivePacker() {
  end_.finish(false);
  if (thread_.joinable()) {
    thread_.join();
  }
}

ZipResult ArchivePacker::Finish(ZipMemberSummary* written) {
  end_.finish(true);
  if (thread_.joinable()) {
    thread_.join();
  } else {
    result_ =
        ZipSingleFile(dumpPath_.c_str(), partPath_.c_str(), stop_, &written_, threads_, Password());
  }
  *written = written_;
  if (result_ == ZipResult::Ok && std::rename(partPath_.c_str(), archivePath_.c_str()) != 0) {
    result_ = ZipResult::CannotOpen;
  }
  return result_;
}

int ArchivePacker::WriteError() const {
  const int fd = open(partPath_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    return error;
  }
  int error = posix_fallocate(fd, info.st_size, kRoomAsked);
  // Whatever the answer, the partial archive stays as it was.
  if (ftruncate(fd, info.st_size) != 0 && error == 0) {
    error = errno;
  }
  close(fd);
  return error;
}

}  // namespace vaultwick
