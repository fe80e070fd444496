#pragma once

// The archive writer: builds a ZIP archive member by member into a new file,
// an open descriptor (regular file or pipe) or a block of memory. Members come
// from a file name, an open descriptor, a block of memory, or nothing at all
// (a folder entry), and are stored or deflated. Nothing here throws: every
// operation answers a ZipResult and also leaves it in lastZipResult.
//
// An archive handle belongs to one thread from openZipWriter to closeZipWriter;
// different archives share nothing but lastZipResult.

#include <cstdint>

#include "zip/zip_result.h"

namespace vaultwick {

enum class ZipTargetKind : std::uint32_t { Handle = 1, FileName = 2, Memory = 3 };
enum class ZipSourceKind : std::uint32_t { Handle = 1, FileName = 2, Memory = 3, Folder = 4 };

inline constexpr int kDefaultPackLevel = 8;

struct ZipHandle;

// Opens a writer. `target` by kind:
//   FileName: const char* path of the archive to create (an existing file is truncated);
//   Handle:   const int* pointing at an open writable descriptor; the writer works on a
//             duplicate, so the caller keeps and closes its own. A regular file is written
//             from its current position on (all recorded offsets include that position);
//             anything else (pipe, socket, device) is written strictly forward;
//   Memory:   a caller buffer of `size` bytes, or null to let the writer map a block of
//             `size` bytes itself. At most size - 1 bytes of archive fit.
// `level` (1..8) is the compressor level of deflated members; the product always uses 8.
// `threads` above 1 spreads the compression of each deflated member over that many
// parse threads (levels 4 to 8); the archive is the same byte for byte.
// Returns null when the writer could not be opened; lastZipResult then says why.
[[nodiscard]] ZipHandle* openZipWriter(const void* target, std::uint32_t size, ZipTargetKind kind,
                                       int level = kDefaultPackLevel, unsigned threads = 1);

// Adds one member. `source` by kind:
//   FileName: const char* path of the file to add; `size` is ignored;
//   Handle:   const int* pointing at an open readable descriptor (the caller keeps it). For
//             anything but a regular file `size` is the expected length, 0 = unknown;
//   Memory:   `size` bytes at `source`;
//   Folder:   a folder entry; `source` and `size` are ignored.
// Backslashes in `name` become slashes; a folder name gets a trailing slash. Names ending
// in .Z .zip .zoo .arc .lzh .arj .gz .tgz (any case), and folders, are stored, everything
// else is deflated.
[[nodiscard]] ZipResult addZipMember(ZipHandle* handle, const char* name, const void* source,
                                     std::uint32_t size, ZipSourceKind kind);

// Every member with data added from now on is encrypted under `password`, with
// AES-256 in the ZIP format's AES encryption (AE-2): its data can be read back
// only with the password, and tampering with it is found by the authentication
// code. Names, sizes, times and attributes stay readable, and folder entries
// are not encrypted. Null turns encryption off for later members; an empty
// password is BadArguments.
[[nodiscard]] ZipResult setZipWriterPassword(ZipHandle* handle, const char* password);

// Finishes the archive if that has not happened yet and hands out the memory block and
// the archive length. The block stays valid until closeZipWriter. WriteFailed when the
// central directory did not fit the block (the bytes are then no whole archive).
[[nodiscard]] ZipResult getZipWriterMemory(ZipHandle* handle, void** buffer, std::uint32_t* length);

// Finishes the archive if that has not happened yet, releases the output and frees the
// handle, which is invalid afterwards.
[[nodiscard]] ZipResult closeZipWriter(ZipHandle* handle);

}  // namespace vaultwick
