#pragma once

#include <cstdint>
#include <string>

#include "common/stop_token.h"
#include "zip/growing_file_end.h"
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
// archive, adding the file or finishing the archive, else Ok. `stop` is looked at
// before every read of the file; once it is stopped the archive ends
// at once with ReadFailed. On Ok, `written` (when given) describes the member. A
// failed archive is left for the caller to delete. `threads` above 1 spreads the
// compression over that many parse threads; the archive is the same byte for byte.
// A `password` (null or empty: none) encrypts the member (see setZipWriterPassword);
// `written` still gives the CRC-32 of its plain bytes.
[[nodiscard]] ZipResult ZipSingleFile(const char* sourcePath, const char* archivePath,
                                      const StopToken& stop = StopToken::Never(),
                                      ZipMemberSummary* written = nullptr, unsigned threads = 1,
                                      const char* password = nullptr);

// ZipSingleFile for a file that another thread is still appending to: its bytes
// are packed as they arrive, and once `end` is complete the member takes the
// facts (times, size, attributes) of the finished file, so that the archive is
// byte for byte the one ZipSingleFile makes of it then. The file is read without
// moving its access time. An abandoned file fails the member (ReadFailed); the
// archive is then left for the caller to delete. The archive must be a file (its
// headers are rewritten at the end).
[[nodiscard]] ZipResult ZipGrowingFile(const char* sourcePath, const char* archivePath,
                                       GrowingFileEnd& end,
                                       const StopToken& stop = StopToken::Never(),
                                       ZipMemberSummary* written = nullptr, unsigned threads = 1,
                                       const char* password = nullptr);

}  // namespace vaultwick
