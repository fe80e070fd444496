#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "zip/zip_result.h"

namespace vaultwick {

// What the writer read of a member's source: its name in the archive, its
// length and its CRC-32. A check of the finished archive compares against it.
struct ZipMemberSummary {
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;
};

// Packs one file into a new archive at `archivePath`, as a member named after the
// part of `sourcePath` after its last '/'. Returns the first failure of opening the
// archive, adding the file or finishing the archive, else Ok. When `stop` is given
// it is looked at before every read of the file; once it is true the archive ends
// at once with ReadFailed. On Ok, `written` (when given) describes the member. A
// failed archive is left for the caller to delete.
[[nodiscard]] ZipResult ZipSingleFile(const char* sourcePath, const char* archivePath,
                                      const std::atomic<bool>* stop = nullptr,
                                      ZipMemberSummary* written = nullptr);

}  // namespace vaultwick
