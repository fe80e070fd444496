#pragma once

// The result code of every archive-writer operation, its fixed message texts,
// and the process-wide record of the most recent one.

#include <atomic>
#include <cstdint>
#include <string>

namespace vaultwick {

enum class ZipResult : std::uint32_t {
  Ok = 0x00000000,
  Recent = 0x00000001,  // only as an argument of zipResultText: "the last result"
  DuplicateFailed = 0x00000100,
  CannotOpen = 0x00000200,
  NoMemory = 0x00000300,
  WriteFailed = 0x00000400,
  NotFound = 0x00000500,
  MoreData = 0x00000600,
  Corrupt = 0x00000700,
  ReadFailed = 0x00000800,
  BadArguments = 0x00010000,
  NotMemoryArchive = 0x00020000,
  MemoryTooSmall = 0x00030000,
  PreviousError = 0x00040000,
  AlreadyEnded = 0x00050000,
  SizeMismatch = 0x00060000,
  PartlyUnpacked = 0x00070000,
  WrongMode = 0x00080000,
  NotInitialised = 0x01000000,
  SeekImpossible = 0x02000000,
  MethodChanged = 0x04000000,
  DeflateFailed = 0x05000000,
};

// The result of the most recent public writer operation on any thread.
extern std::atomic<ZipResult> lastZipResult;

// Copies the message text of `code` (ZipResult::Recent: of lastZipResult) into
// `buffer` of `bufferSize` bytes, cut to fit and always zero-terminated when
// bufferSize > 0. Returns the full text length without the terminating zero,
// whether or not all of it fitted; a null buffer only asks for that length.
std::uint32_t zipResultText(ZipResult code, char* buffer, std::uint32_t bufferSize);

// The message text of `code` whole.
std::string zipResultMessage(ZipResult code);

}  // namespace vaultwick
