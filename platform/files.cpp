#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>
#include <vector>

namespace vaultwick {

std::size_t ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
  auto* into = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
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

std::optional<std::string> FollowLinks(const std::string& path) {
  // The kernel's own bound on links followed in one lookup.
  constexpr int kMostLinks = 40;
  std::string at = path;
  for (int followed = 0; followed <= kMostLinks; ++followed) {
    std::error_code notALink;
    const std::filesystem::path next = std::filesystem::read_symlink(at, notALink);
    if (notALink) {
      // No link (or nothing) there: a failure to reach it is the writer's to report.
      return at;
    }
    at = next.is_absolute() ? next.string() : FolderOf(at) + "/" + next.string();
  }
  errno = ELOOP;
  return std::nullopt;
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

}  // namespace vaultwick
