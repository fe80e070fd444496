#pragma once

// The first member of an archive as the writer lays it out on a file it can
// reposition: its local header at the file's start, deflated, not encrypted,
// its CRC-32 and both sizes in that header itself (no data descriptor, no
// ZIP64 field). Such a member's data can be inflated straight from the file
// by the reader's own inflater and proved against the header.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vaultwick {

struct PlainMember {
  std::string name;              // the bytes the header holds
  std::size_t dataOffset = 0;    // where the deflated data starts
  std::uint32_t crc32 = 0;       // of the inflated data
  std::uint64_t compressed = 0;  // the deflated data's length
  std::uint64_t size = 0;        // the inflated data's length
};

// The first local header of the archive open at `fd`; nullopt when the file
// does not start with one that is plain, or cannot be read.
std::optional<PlainMember> ReadPlainMember(int fd);

}  // namespace vaultwick
