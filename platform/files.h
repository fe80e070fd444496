#pragma once

// File operations the backup job needs: putting a finished archive into the
// target folder without ever exposing a half-written file, deleting files,
// asking for a file's size, and clearing away what a killed process left.
// Failures return the errno value; nothing throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/stop_token.h"

namespace vaultwick {

// Copies `source` to `target`, replacing any file there: the bytes go into a
// new hidden part file beside `target` (a short name of its own, see
// RemoveAbandonedPartFiles), which is synced and then renamed over `target`,
// and the folder is synced. Returns 0 on success, else the errno value of the
// step that failed, or ECANCELED when `stop` was stopped before the rename;
// then the part file is gone and an older `target` is exactly as it was.
// A new `target` gets mode 0600 (it may hold a whole database); one that
// replaces an older file keeps the older file's mode.
[[nodiscard]] int CopyFileReplacing(const std::string& source, const std::string& target,
                                    const StopToken& stop = StopToken::Never());

// Deletes one file (not a folder). Returns 0 when the file is gone afterwards,
// also when there was none, else the errno value.
int DeleteFile(const std::string& path);

// The size of a regular file, or nullopt when there is none at `path`.
std::optional<std::uint64_t> FileSize(const std::string& path);

// The folder that holds `path`: "." for a bare name, "/" for an entry of the
// root folder.
std::string FolderOf(const std::string& path);

// Files and folders that a process makes for itself alone are named
// "<prefix><pid>-<unique part>", so that after the process was killed a later
// one can tell them from everything else. This returns "<prefix><pid>-".
std::string ProcessOwnedPrefix(std::string_view prefix);

enum class EntryKind { File, Folder };

// Removes the entries of `folder` named "<prefix><pid>-<something>" that are
// of `kind` (a symbolic link never is), belong to this user, and whose process
// no longer exists; a folder goes with everything in it. Entries of a live
// process, of another user or of another name are never touched.
void RemoveAbandoned(const std::string& folder, std::string_view prefix, EntryKind kind);

// Removes the part files that CopyFileReplacing calls of dead processes left
// in `folder`.
void RemoveAbandonedPartFiles(const std::string& folder);

}  // namespace vaultwick
