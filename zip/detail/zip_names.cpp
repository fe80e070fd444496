#include "zip/detail/zip_names.h"

#include <strings.h>

#include <cstring>

namespace vaultwick {

bool isPrecompressedName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) {
    return false;
  }
  for (const char* suffix : {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"}) {
    if (strcasecmp(dot, suffix) == 0) {
      return true;
    }
  }
  return false;
}

ZipResult setMemberName(ZipEntry& entry, const char* name, bool folder) {
  if (name == nullptr || name[0] == '\0') {
    return ZipResult::BadArguments;
  }
  const std::size_t length = strnlen(name, zip_format::kMaxNameLength + 1);
  if (length > zip_format::kMaxNameLength) {
    return ZipResult::BadArguments;
  }
  std::size_t n = 0;
  for (; n < length; ++n) {
    entry.name[n] = name[n] == '\\' ? '/' : name[n];
  }
  if (folder && entry.name[n - 1] != '/') {
    if (n == zip_format::kMaxNameLength) {
      return ZipResult::BadArguments;
    }
    entry.name[n++] = '/';
  }
  entry.name[n] = '\0';
  entry.nameLength = static_cast<std::uint16_t>(n);
  return ZipResult::Ok;
}

}  // namespace vaultwick
