#include "backup/restore_point_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vaultwick {
namespace {

// "-YYYYMMDDTHHMMSSZ.zip" after the connection's name.
constexpr std::string_view kTimeFormat = "%04d%02d%02dT%02d%02d%02dZ";
constexpr std::size_t kTimeLength = 16;
constexpr std::string_view kArchiveExtension = ".zip";
// Two archives placed in the same second are rare; this many in one
// stretch of seconds would mean something else is writing names of ours.
constexpr int kNameAttempts = 100;
constexpr mode_t kFolderMode = 0700;

std::string Joined(std::string_view folder, std::string_view entry) {
  std::string path(folder);
  path += '/';
  path += entry;
  return path;
}

ArchiveTime ModificationTime(const struct stat& info) {
  return ArchiveTime(std::chrono::seconds(info.st_mtim.tv_sec));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), kFolderMode) == 0) {
    return 0;
  }
  struct stat info {};
  if (errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return 0;
  }
  return errno == 0 ? ENOTDIR : errno;
}

// Errors of link() that mean "this file system has no hard links here".
bool NoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOTSUP || error == EMLINK;
}

// Renames without replacing: a name that exists is never overwritten.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return errno;
  }
  // A file system without the flag: only runs of this connection write
  // names of its own here, and those run one at a time.
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    return EEXIST;
  }
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string CurrentArchivePath(std::string_view saveTo, std::string_view name) {
  std::string path = Joined(saveTo, name);
  path += kArchiveExtension;
  return path;
}

std::string RestorePointFolder(std::string_view saveTo, std::string_view name) {
  return Joined(Joined(saveTo, kRestorePointsFolderName), name);
}

std::string RestorePointFileName(std::string_view name, ArchiveTime time) {
  const time_t seconds = static_cast<time_t>(time.time_since_epoch().count());
  struct tm parts {};
  if (::gmtime_r(&seconds, &parts) == nullptr || parts.tm_year + 1900 < 0 ||
      parts.tm_year + 1900 > 9999) {
    return {};
  }
  // Room for any int the fields could hold; the year's range was checked.
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, kTimeFormat.data(), parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  std::string fileName(name);
  fileName += '-';
  fileName += stamp;
  fileName += kArchiveExtension;
  return fileName;
}

std::optional<ArchiveTime> ParseRestorePointFileName(std::string_view name,
                                                     std::string_view fileName) {
  if (fileName.size() != name.size() + 1 + kTimeLength + kArchiveExtension.size() ||
      fileName.substr(0, name.size()) != name || fileName[name.size()] != '-') {
    return std::nullopt;
  }
  const std::string_view stamp = fileName.substr(name.size() + 1, kTimeLength);
  int field[6] = {};
  // Offsets and widths of year, month, day, hour, minute, second in the stamp.
  constexpr std::size_t kAt[6] = {0, 4, 6, 9, 11, 13};
  constexpr std::size_t kWidth[6] = {4, 2, 2, 2, 2, 2};
  for (std::size_t f = 0; f < 6; ++f) {
    for (char c : stamp.substr(kAt[f], kWidth[f])) {
      if (c < '0' || c > '9') {
        return std::nullopt;
      }
      field[f] = field[f] * 10 + (c - '0');
    }
  }
  struct tm parts {};
  parts.tm_year = field[0] - 1900;
  parts.tm_mon = field[1] - 1;
  parts.tm_mday = field[2];
  parts.tm_hour = field[3];
  parts.tm_min = field[4];
  parts.tm_sec = field[5];
  const ArchiveTime time(std::chrono::seconds(::timegm(&parts)));
  // Formatting the time again must give the same name: this refuses the
  // 31st of February, a lower-case t or z, another extension, and the like.
  if (RestorePointFileName(name, time) != fileName) {
    return std::nullopt;
  }
  return time;
}

std::vector<ArchiveFile> ListArchiveFiles(std::string_view saveTo, std::string_view name) {
  std::vector<ArchiveFile> files;
  struct stat info {};
  struct stat currentInfo {};
  const std::string current = CurrentArchivePath(saveTo, name);
  const bool hasCurrent =
      ::lstat(current.c_str(), &currentInfo) == 0 && S_ISREG(currentInfo.st_mode);
  if (hasCurrent) {
    files.push_back({current, ModificationTime(currentInfo), ModificationTime(currentInfo),
                     static_cast<std::uint64_t>(currentInfo.st_size), true});
  }
  const std::string folder = RestorePointFolder(saveTo, name);
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      std::optional<ArchiveTime> time = ParseRestorePointFileName(name, entry->d_name);
      // A point that is still a second name of <name>.zip (a run that failed
      // after keeping it) is that archive, listed once.
      if (time && ::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(info.st_mode) && !(hasCurrent && SameFile(info, currentInfo))) {
        files.push_back({Joined(folder, entry->d_name), *time, ModificationTime(info),
                         static_cast<std::uint64_t>(info.st_size), false});
      }
    }
    ::closedir(listing);
  }
  // <name>.zip replaced every point, so it is newer than all of them even
  // where a point's name took a later second (several archives placed in one
  // second) or the clock was set back since.
  if (hasCurrent) {
    for (const ArchiveFile& point : files) {
      files.front().time = std::max(files.front().time, point.time);
    }
  }
  // Newest first; <name>.zip before a point of the same second, which it replaced.
  std::stable_sort(files.begin(), files.end(), [](const ArchiveFile& a, const ArchiveFile& b) {
    return a.time != b.time ? a.time > b.time : a.current && !b.current;
  });
  return files;
}

int KeepReplacedArchive(std::string_view saveTo, std::string_view name, KeptArchive* kept,
                        bool allowLink) {
  *kept = KeptArchive{};
  const std::string current = CurrentArchivePath(saveTo, name);
  struct stat archive {};
  if (::lstat(current.c_str(), &archive) != 0) {
    return errno == ENOENT ? 0 : errno;
  }
  if (!S_ISREG(archive.st_mode)) {
    return 0;
  }
  const std::string folder = RestorePointFolder(saveTo, name);
  if (int error = MakeFolder(Joined(saveTo, kRestorePointsFolderName)); error != 0) {
    return error;
  }
  if (int error = MakeFolder(folder); error != 0) {
    return error;
  }
  ArchiveTime time = ModificationTime(archive);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, time += std::chrono::seconds(1)) {
    const std::string fileName = RestorePointFileName(name, time);
    if (fileName.empty()) {
      return EINVAL;
    }
    const std::string point = Joined(folder, fileName);
    int error = 0;
    if (allowLink) {
      error = ::link(current.c_str(), point.c_str()) == 0 ? 0 : errno;
      if (error == 0) {
        *kept = KeptArchive{point, true, false};
        return 0;
      }
      allowLink = !NoHardLinks(error);
    }
    if (!allowLink) {
      error = RenameNoReplace(current, point);
      if (error == 0) {
        *kept = KeptArchive{point, false, true};
        return 0;
      }
    }
    if (error != EEXIST) {
      return error;
    }
    struct stat there {};
    if (::lstat(point.c_str(), &there) == 0 && SameFile(there, archive)) {
      // Kept by an earlier run that then failed to place its own archive.
      kept->path = point;
      return 0;
    }
  }
  return EEXIST;
}

void UndoKeepReplacedArchive(std::string_view saveTo, std::string_view name,
                             const KeptArchive& kept) {
  if (kept.moved) {
    ::rename(kept.path.c_str(), CurrentArchivePath(saveTo, name).c_str());
  } else if (kept.linked) {
    ::unlink(kept.path.c_str());
  }
}

}  // namespace vaultwick
