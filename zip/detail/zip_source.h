#pragma once

// Where a member's data comes from. Sources are thin adapters that hand out
// bytes; each opening also yields the member's facts for its headers.

#include <cstdint>
#include <memory>

#include "zip/detail/zip_member_facts.h"
#include "zip/zip_result.h"

namespace vaultwick {

// What ZipSource::read answers when the source could not be read.
inline constexpr std::uint32_t kSourceReadFailed = 0xFFFFFFFF;

class ZipSource {
 public:
  virtual ~ZipSource() = default;
  // Copies up to `count` bytes into `destination`; 0 means the data has ended,
  // kSourceReadFailed that it could not be read.
  virtual std::uint32_t read(std::uint8_t* destination, std::uint32_t count) = 0;
  // The descriptor read from, or -1 for memory.
  virtual int descriptor() const { return -1; }
  // The member's facts once its data has ended, for a source whose facts are
  // known only then (a file that was still being written); false: the facts
  // of the opening stand.
  virtual bool finalFacts(MemberFacts&) { return false; }
};

class GrowingFileEnd;

// Each sets `result` and the member's facts, and returns null on failure.
// Opens a file for reading without moving its access time where the system
// allows that (the caller owns the file), so that packing the same file twice
// records the same times. -1 with errno set when it cannot be opened.
int openKeepingAccessTime(const char* path);

std::unique_ptr<ZipSource> openFileNameSource(const char* path, MemberFacts& facts,
                                              ZipResult& result);
// `sizeHint` is the expected length of a stream (0 = unknown); a disk file knows its own.
std::unique_ptr<ZipSource> openHandleSource(const int* fd, std::uint32_t sizeHint,
                                            MemberFacts& facts, ZipResult& result);
std::unique_ptr<ZipSource> openMemorySource(const void* data, std::uint32_t length,
                                            MemberFacts& facts, ZipResult& result);
// A file another thread is still appending to, until `end` is finished.
std::unique_ptr<ZipSource> openGrowingFileSource(const char* path, const GrowingFileEnd& end,
                                                 MemberFacts& facts, ZipResult& result);

}  // namespace vaultwick
