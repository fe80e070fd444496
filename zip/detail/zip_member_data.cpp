#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

ZipResult storeMemberData(ZipWriter& writer) {
  for (;;) {
    const std::uint32_t got = readMemberInput(writer, writer.buffer.data(), kWriterBufferSize);
    if (got == 0) {
      return ZipResult::Ok;
    }
    const std::uint32_t written = writeMemberData(writer, writer.buffer.data(), got);
    writer.compressedSize += written;
    if (written != got) {
      return ZipResult::WriteFailed;
    }
  }
}

ZipResult deflateMemberData(ZipWriter& writer, ZipEntry& entry) {
  FlateJob job;
  job.param = &writer;
  job.read_input = zipReadCallback;
  job.write_output = zipFlushCallback;
  job.buffer = writer.buffer.data();
  job.capacity = kWriterBufferSize;
  job.level = writer.packLevel;
  job.flags_word = &entry.generalFlags;
  job.threads = writer.threads;
  // The compressor counts in 32 bits; the flush callback has counted every byte
  // that reached the output, which also holds for members past 4 GiB.
  const FlateOutcome outcome = flate_member(job);
  // Output that did not reach the archive is a write failure, even though the
  // compressor notes it too; any other failed check is the compressor's own.
  if (writer.dataWriteFailed) {
    return ZipResult::WriteFailed;
  }
  return outcome.error_text == nullptr ? ZipResult::Ok : ZipResult::DeflateFailed;
}

}  // namespace vaultwick
