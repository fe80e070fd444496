#pragma once

// What the headers say about a member's source: attributes, expected size and times.

#include <cstdint>

#include "zip/zip_result.h"

namespace vaultwick {

struct MemberFacts {
  std::uint32_t externalAttributes = 0;
  std::int64_t expectedSize = -1;  // -1: unknown
  std::uint32_t accessTime = 0;    // Unix seconds as in the "UT" fields
  std::uint32_t modificationTime = 0;
  std::uint32_t creationTime = 0;
  std::uint32_t dosStamp = 0;
  // The expected size is the file's own, so reading any other count means the
  // file changed under the writer (or lies about its size).
  bool exactSize = false;
};

// A descriptor the file system holds (regular file or folder): its facts can be read
// and it can be rewound. Anything else is read as a stream.
bool isDiskFile(int fd);

// Facts of a disk file: attributes from its mode (read-only when the owner may not
// write; every regular file carries the MS-DOS archive bit), size, executable test,
// times (the creation time is the modification time). NotInitialised when `fd` is not
// a disk file, CannotOpen when its facts cannot be read. Does not move the file position.
[[nodiscard]] ZipResult readFileFacts(int fd, MemberFacts& facts);

// Facts of a member without a file behind it: `attributes`, `expectedSize`, and the
// current local time for every time stamp.
MemberFacts streamFacts(std::uint32_t attributes, std::int64_t expectedSize);

}  // namespace vaultwick
