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

bool isUtf8BeyondAscii(const char* name, std::size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(name);
  bool beyondAscii = false;
  std::size_t i = 0;
  while (i < length) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    beyondAscii = true;
    // Lead bytes of 2, 3 and 4-byte sequences; C0, C1 and F5..FF never occur.
    const std::size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                              : lead >= 0xE0 && lead <= 0xEF ? 2
                              : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                             : 0;
    if (extra == 0 || i + extra >= length) {
      return false;
    }
    const unsigned char second = bytes[i + 1];
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) {
      return false;
    }
    for (std::size_t k = 2; k <= extra; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        return false;
      }
    }
    i += extra + 1;
  }
  return beyondAscii;
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
