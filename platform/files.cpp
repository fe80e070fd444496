#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/descriptor.h"

namespace vaultwick {
namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
constexpr int kNameAttempts = 100;
// Short whatever the target's name, so that a target name of any valid length
// still leaves room for it.
constexpr std::string_view kPartFilePrefix = ".vaultwick-part-";
constexpr mode_t kNewFileMode = 0600;

// Creates a new, hidden, exclusively created part file beside `target`.
int CreateBeside(const std::string& target, std::string* partPath) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = FolderOf(target) + "/" + ProcessOwnedPrefix(kPartFilePrefix);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    // A dead process with this pid may have left a file of the same name.
    *partPath = stem + std::to_string(counter++);
    int fd = ::open(partPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// The mode the copy gets: that of the file it replaces, else 0600.
mode_t ModeFor(const std::string& target) {
  struct stat older {};
  if (::stat(target.c_str(), &older) == 0 && S_ISREG(older.st_mode)) {
    return older.st_mode & 0777;
  }
  return kNewFileMode;
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

int CopyFileReplacing(const std::string& source, const std::string& target, const StopToken& stop) {
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    return errno;
  }
  std::string partPath;
  Descriptor out(CreateBeside(target, &partPath));
  if (out.get() < 0) {
    return errno;
  }
  // fchmod, not the mode of open(), so that the umask cannot narrow a mode
  // the older archive had.
  int error = ::fchmod(out.get(), ModeFor(target)) == 0 ? 0 : errno;
  if (error == 0) {
    error = CopyContent(in.get(), out.get(), stop);
  }
  if (error == 0 && ::fsync(out.get()) != 0) {
    error = errno;
  }
  int closeError = out.Close();
  if (error == 0) {
    error = closeError;
  }
  if (error == 0 && stop.StopRequested()) {
    error = ECANCELED;
  }
  if (error == 0 && ::rename(partPath.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(partPath.c_str());
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

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ProcessOwnedPrefix(std::string_view prefix) {
  std::string result(prefix);
  result += std::to_string(::getpid());
  result += '-';
  return result;
}

namespace {

// The pid in "<prefix><pid>-<something>", or nullopt for any other name.
std::optional<pid_t> OwnerPid(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix) {
    return std::nullopt;
  }
  name.remove_prefix(prefix.size());
  std::string_view::size_type dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size()) {
    return std::nullopt;
  }
  long pid = 0;
  for (char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    pid = pid * 10 + (c - '0');
  }
  // Never 0: kill(0, ...) would ask about the whole process group.
  return pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
}

// Only "no such process" counts: EPERM means it lives under another user.
bool ProcessIsGone(pid_t pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

void RemoveAbandoned(const std::string& folder, std::string_view prefix, EntryKind kind) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    return;
  }
  std::vector<std::string> abandoned;
  while (const dirent* entry = ::readdir(listing)) {
    std::optional<pid_t> pid = OwnerPid(entry->d_name, prefix);
    if (!pid || *pid == ::getpid()) {
      continue;
    }
    struct stat info {};
    if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        info.st_uid != ::geteuid()) {
      continue;
    }
    bool rightKind = kind == EntryKind::Folder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
    if (rightKind && ProcessIsGone(*pid)) {
      abandoned.push_back(folder + "/" + entry->d_name);
    }
  }
  ::closedir(listing);
  for (const std::string& path : abandoned) {
    // remove_all does not follow symbolic links inside a folder.
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
}

void RemoveAbandonedPartFiles(const std::string& folder) {
  RemoveAbandoned(folder, kPartFilePrefix, EntryKind::File);
}

}  // namespace vaultwick
