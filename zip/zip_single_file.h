#pragma once

#include <atomic>

#include "zip/zip_result.h"

namespace vaultwick {

// Packs one file into a new archive at `archivePath`, as a member named after the
// part of `sourcePath` after its last '/'. Returns the first failure of opening the
// archive, adding the file or finishing the archive, else Ok. When `stop` is given
// it is looked at before every read of the file; once it is true the archive ends
// at once with ReadFailed. A failed archive is left for the caller to delete.
[[nodiscard]] ZipResult ZipSingleFile(const char* sourcePath, const char* archivePath,
                                      const std::atomic<bool>* stop = nullptr);

}  // namespace vaultwick
