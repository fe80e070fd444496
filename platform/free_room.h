#pragma once

// Whether a folder has room for a file about to be written there, asked
// before a job spends an hour on a dump whose archive could not be placed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vaultwick {

// Bytes an unprivileged writer may still use in the file system of
// `folder`; nullopt when that cannot be told (errno says why).
std::optional<std::uint64_t> FreeBytes(const std::string& folder);

// The room to ask for an archive: the last archive's size with a tenth for
// growth, else the tables' data length, plus a mebibyte for the file
// system's own needs.
std::uint64_t ExpectedArchiveBytes(std::optional<std::uint64_t> lastArchiveBytes,
                                   std::uint64_t dataLengthBytes);

// Empty when `folder` has room for `neededBytes`, or when its room cannot
// be told (the write itself will then say what is wrong). Otherwise the
// cause: "Not enough room in <folder>: <needed> needed, <free> free".
std::string RoomShortage(const std::string& folder, std::uint64_t neededBytes);

// The same for several folders that are each to hold a file of
// `neededBytesEach` at once: folders on one file system share its room, so
// two of them there need twice the bytes ("Not enough room in <a> and <b>:
// ..."). Folders whose room cannot be told are left out.
std::string RoomShortage(const std::vector<std::string>& folders, std::uint64_t neededBytesEach);

// "1.3 MiB (1363148 bytes)", "512 bytes".
std::string ByteCountText(std::uint64_t bytes);

}  // namespace vaultwick
