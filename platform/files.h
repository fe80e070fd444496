#pragma once

// Small file operations: reading at an offset, deleting files, asking for a
// file's size, naming
// what a process makes for itself alone, and clearing away what a killed
// process left. Failures return the errno value; nothing throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

// Reads `count` bytes at `offset` into `buffer`, going on after a signal or a
// short read, and returns how many it read: fewer only at the end of the file
// or on a failure.
std::size_t ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset);

// Deletes one file (not a folder). Returns 0 when the file is gone afterwards,
// also when there was none, else the errno value.
int DeleteFile(const std::string& path);

// The size of a regular file, or nullopt when there is none at `path`.
std::optional<std::uint64_t> FileSize(const std::string& path);

// The folder that holds `path`: "." for a bare name, "/" for an entry of the
// root folder.
std::string FolderOf(const std::string& path);

// Where a writer that opens `path` writes: the end of its chain of symbolic
// links (even when that end does not exist yet), else `path` itself. nullopt
// with errno ELOOP for a chain that does not end.
std::optional<std::string> FollowLinks(const std::string& path);

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

}  // namespace vaultwick
