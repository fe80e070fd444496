#include <algorithm>
#include <vector>

#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

namespace {

// The move is rare (a stream of 4 GiB or more); larger blocks than the writer's
// own buffer save most of its system calls.
constexpr std::uint32_t kMoveBlock = 1 << 20;

}  // namespace

ZipResult widenLocalHeader(ZipWriter& writer, ZipEntry& entry) {
  ZipEntry wide = entry;
  wide.localZip64 = true;
  const std::uint64_t shift = localHeaderLength(wide) - localHeaderLength(entry);
  const std::uint64_t dataStart =
      entry.localHeaderOffset - writer.output->baseOffset() + localHeaderLength(entry);
  const std::uint64_t end = writer.bytesWritten;
  std::vector<std::uint8_t> block(kMoveBlock);
  ZipResult result = ZipResult::Ok;
  bool moved = false;
  // From the end backwards, so that no byte is overwritten before it was read.
  for (std::uint64_t at = end; at > dataStart && result == ZipResult::Ok;) {
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kMoveBlock, at - dataStart));
    at -= count;
    if (!writer.output->readBack(at, block.data(), count)) {
      result = ZipResult::WriteFailed;
    } else if (!writer.output->seek(at + shift, writer.stickyError)) {
      result = ZipResult::SeekImpossible;
    } else {
      moved = true;
      if (zipWriteCallback(&writer, block.data(), count) != count) {
        result = ZipResult::WriteFailed;
      }
    }
  }
  // Later members go after whatever this one now occupies.
  writer.bytesWritten = moved ? end + shift : end;
  if (moved && !writer.output->seek(writer.bytesWritten, writer.stickyError) &&
      result == ZipResult::Ok) {
    result = ZipResult::SeekImpossible;
  }
  if (result == ZipResult::Ok) {
    entry.localZip64 = true;
  }
  return result;
}

}  // namespace vaultwick
