#include "platform/free_room.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace vaultwick {
namespace {

constexpr std::uint64_t kFileSystemSlack = 1 << 20;

}  // namespace

std::optional<std::uint64_t> FreeBytes(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) {
    return std::nullopt;
  }
  // f_bavail leaves out the blocks kept for root, which a job run by root
  // could use: the smaller figure never promises room that is not there.
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::uint64_t ExpectedArchiveBytes(std::optional<std::uint64_t> lastArchiveBytes,
                                   std::uint64_t dataLengthBytes) {
  const std::uint64_t archive =
      lastArchiveBytes ? *lastArchiveBytes + *lastArchiveBytes / 10 : dataLengthBytes;
  return archive + kFileSystemSlack;
}

std::string RoomShortage(const std::string& folder, std::uint64_t neededBytes) {
  return RoomShortage(std::vector<std::string>{folder}, neededBytes);
}

std::string RoomShortage(const std::vector<std::string>& folders, std::uint64_t neededBytesEach) {
  // The folders of each file system, in the order they were given.
  std::vector<std::pair<dev_t, std::vector<std::string>>> fileSystems;
  for (const std::string& folder : folders) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      continue;
    }
    auto same = std::find_if(fileSystems.begin(), fileSystems.end(),
                             [&](const auto& entry) { return entry.first == info.st_dev; });
    if (same == fileSystems.end()) {
      fileSystems.push_back({info.st_dev, {folder}});
    } else {
      same->second.push_back(folder);
    }
  }
  for (const auto& [device, named] : fileSystems) {
    const std::uint64_t count = named.size();
    const std::uint64_t needed = neededBytesEach > std::numeric_limits<std::uint64_t>::max() / count
                                     ? std::numeric_limits<std::uint64_t>::max()
                                     : neededBytesEach * count;
    const std::optional<std::uint64_t> free = FreeBytes(named.front());
    if (free && *free < needed) {
      std::string where;
      for (const std::string& folder : named) {
        where += (where.empty() ? "" : " and ") + folder;
      }
      return "Not enough room in " + where + ": " + ByteCountText(needed) + " needed, " +
             ByteCountText(*free) + " free";
    }
  }
  return {};
}

std::string ByteCountText(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  }
  double scaled = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (scaled >= 1024 && unit + 1 < std::size(kUnits)) {
    scaled /= 1024;
    ++unit;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %s (%llu bytes)", scaled, kUnits[unit],
                static_cast<unsigned long long>(bytes));
  return text;
}

}  // namespace vaultwick
