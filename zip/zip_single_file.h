#pragma once

namespace vaultwick {

// Packs one file into a new archive at `archivePath`, as a member named after the
// part of `sourcePath` after its last '/'. Returns true when the archive cannot be
// made (it could not be created, or the file could not be added).
[[nodiscard]] bool ZipSingleFile(const char* sourcePath, const char* archivePath);

}  // namespace vaultwick
