#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <vector>

namespace vaultwick {
namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
constexpr int kNameAttempts = 100;

// Closes a descriptor on every way out unless released.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }
  // Closes now and reports the close's own failure, which for some file
  // systems is where a write error first shows.
  int Close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a new, hidden, exclusively created file beside `target`.
int CreateBeside(const std::string& target, std::string* tempPath) {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  std::string folder = FolderOf(target);
  std::string stem = folder + "/." + BaseNameOf(target) + ".part-";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                std::to_string(entropy());
    int fd = ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int CopyContent(int from, int to) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (got == 0) {
      return 0;
    }
    if (int error = WriteAll(to, buffer.data(), static_cast<std::size_t>(got)); error != 0) {
      return error;
    }
  }
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    // The rename has happened; a folder that cannot be synced only loses
    // durability across a crash, not the copy, so this is not a failure.
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

int CopyFileReplacing(const std::string& source, const std::string& target) {
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    return errno;
  }
  std::string tempPath;
  Descriptor out(CreateBeside(target, &tempPath));
  if (out.get() < 0) {
    return errno;
  }
  int error = CopyContent(in.get(), out.get());
  if (error == 0 && ::fsync(out.get()) != 0) {
    error = errno;
  }
  int closeError = out.Close();
  if (error == 0) {
    error = closeError;
  }
  if (error == 0 && ::rename(tempPath.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(tempPath.c_str());
    return error;
  }
  SyncFolder(FolderOf(target));
  return 0;
}

int DeleteFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
    return 0;
  }
  return errno;
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace vaultwick
