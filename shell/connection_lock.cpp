#include "shell/connection_lock.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace vaultwick {

std::string ConnectionLockPath(const std::string& storePath, std::string_view connection) {
  constexpr std::size_t kReadableLength = 40;
  std::string readable;
  // 64-bit FNV-1a of the name folded to lower case: two connections
  // sharing a lock by chance would refuse each other's runs, so the hash is
  // wide enough that this never happens in practice.
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : connection) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    hash = (hash ^ static_cast<unsigned char>(lower)) * 1099511628211ull;
    const bool plain = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ||
                       lower == '-' || lower == '_';
    if (plain && readable.size() < kReadableLength) {
      readable += lower;
    }
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return storePath + ".locks/" + readable + "-" + hex + ".lock";
}

ConnectionLock ConnectionLock::TryTake(const std::string& storePath, std::string_view connection) {
  std::string path = ConnectionLockPath(storePath, connection);
  FileLock lock = FileLock::TryTake(path);
  return ConnectionLock(std::string(connection), std::move(path), std::move(lock));
}

}  // namespace vaultwick
