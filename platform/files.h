#pragma once

// File operations the backup job needs: putting a finished archive into the
// target folder without ever exposing a half-written file, deleting files and
// asking for a file's size. Failures return the errno value; nothing throws.

#include <cstdint>
#include <optional>
#include <string>

namespace vaultwick {

// Copies `source` to `target`, replacing any file there: the bytes go into a
// new hidden file beside `target`, which is synced and then renamed over
// `target`, and the folder is synced. Returns 0 on success, else the errno
// value of the step that failed; then the temporary file is gone and an older
// `target` is exactly as it was. A new file gets mode 0666 less the umask.
[[nodiscard]] int CopyFileReplacing(const std::string& source, const std::string& target);

// Deletes one file (not a folder). Returns 0 when the file is gone afterwards,
// also when there was none, else the errno value.
int DeleteFile(const std::string& path);

// The size of a regular file, or nullopt when there is none at `path`.
std::optional<std::uint64_t> FileSize(const std::string& path);

}  // namespace vaultwick
