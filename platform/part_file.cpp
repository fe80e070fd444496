#include "platform/part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "common/check.h"
#include "platform/files.h"

namespace vaultwick {
namespace {

constexpr std::string_view kPartFilePrefix = ".vaultwick-part-";
constexpr int kNameAttempts = 100;
constexpr mode_t kNewFileMode = 0600;
constexpr std::size_t kCopyChunk = 1 << 20;

// The mode of the regular file `target` names, else that of a new file. Only
// the permission bits: set-id bits have no business on a replacing file.
mode_t ModeFor(const std::string& target) {
  struct stat older {};
  if (::stat(target.c_str(), &older) == 0 && S_ISREG(older.st_mode)) {
    return older.st_mode & 0777;
  }
  return kNewFileMode;
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    // The rename has happened; a folder that cannot be synced only loses
    // durability across a crash, not the file, so this is not a failure.
    ::fsync(fd);
    ::close(fd);
  }
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

int CopyContent(int from, int to, const StopToken& stop) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    if (stop.StopRequested()) {
      return ECANCELED;
    }
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

}  // namespace

int PartFile::Open() {
  VW_ASSERT(!fd_.open() && path_.empty());
  static std::atomic<unsigned> counter{0};
  const std::string stem = FolderOf(target_) + "/" + ProcessOwnedPrefix(kPartFilePrefix);
  for (int attempt = 0; attempt < kNameAttempts && !fd_.open(); ++attempt) {
    // A dead process with this pid may have left a file of the same name.
    path_ = stem + std::to_string(counter++);
    fd_.Reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
    if (!fd_.open() && errno != EEXIST) {
      path_.clear();
      return errno;
    }
  }
  if (!fd_.open()) {
    path_.clear();
    return EEXIST;
  }
  // fchmod, not the mode of open(), so that the umask cannot narrow a mode
  // the older file had.
  if (::fchmod(fd_.get(), ModeFor(target_)) != 0) {
    const int error = errno;
    Discard();
    return error;
  }
  return 0;
}

int PartFile::Place() {
  VW_ASSERT(fd_.open());
  int error = ::fsync(fd_.get()) == 0 ? 0 : errno;
  // The close's own failure counts: on some file systems a write error shows
  // there first.
  const int closeError = fd_.Close();
  if (error == 0) {
    error = closeError;
  }
  if (error == 0 && ::rename(path_.c_str(), target_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Discard();
    return error;
  }
  path_.clear();
  SyncFolder(FolderOf(target_));
  return 0;
}

void PartFile::Discard() {
  fd_.Reset(-1);
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    path_.clear();
  }
}

int CopyFileReplacing(const std::string& source, const std::string& target, const StopToken& stop) {
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.open()) {
    return errno;
  }
  PartFile part(target);
  int error = part.Open();
  if (error == 0) {
    error = CopyContent(in.get(), part.fd(), stop);
  }
  if (error == 0) {
    error = stop.StopRequested() ? ECANCELED : part.Place();
  }
  return error;
}

void RemoveAbandonedPartFiles(const std::string& folder) {
  RemoveAbandoned(folder, kPartFilePrefix, EntryKind::File);
}

}  // namespace vaultwick
