#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

ZipResult finishArchive(ZipWriter& writer) {
  writer.state = WriterState::Finished;
  const std::uint64_t start = writer.bytesWritten;
  bool allWell = true;
  std::uint64_t count = 0;
  for (const ZipEntry& entry : writer.entries) {
    // After a failed header the rest would sit at the wrong offsets: stop writing.
    if (allWell && !writeCentralHeader(writer, entry)) {
      allWell = false;
    }
    ++count;
  }
  writer.entries.clear();
  writer.entries.shrink_to_fit();
  if (allWell) {
    allWell = writeEndRecord(writer, count, writer.bytesWritten - start,
                             start + writer.output->baseOffset());
  }
  writer.finishResult = allWell ? ZipResult::Ok : ZipResult::WriteFailed;
  return writer.finishResult;
}

}  // namespace vaultwick
