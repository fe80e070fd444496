#include "zip/detail/zip_writer_internal.h"

#include "zip/zip_crc32.h"

namespace vaultwick {

std::uint32_t ZipWriter::write(const std::uint8_t* data, std::uint32_t count) {
  return zipWriteCallback(this, data, count);
}

std::uint32_t zipWriteCallback(ZipWriter* writer, const std::uint8_t* data, std::uint32_t count) {
  if (count == 0) {
    return 0;
  }
  if (!writer->output) {
    writer->stickyError = ZipResult::NotInitialised;
    return 0;
  }
  const std::uint32_t written = writer->output->write(data, count, writer->stickyError);
  // Counting what actually went out keeps every later offset true to the output,
  // even after a short write.
  writer->bytesWritten += written;
  return written;
}

bool zipFlushCallback(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* writer = static_cast<ZipWriter*>(param);
  if (*count == 0) {
    return false;
  }
  const std::uint32_t written = writeMemberData(*writer, data, *count);
  writer->compressedSize += written;
  if (written != *count) {
    // Compressed bytes lost in the middle of a stream spoil the member.
    writer->dataWriteFailed = true;
  }
  if (written != 0) {
    *count = 0;
  }
  return written != 0;
}

std::uint32_t readMemberInput(ZipWriter& writer, std::uint8_t* destination, std::uint32_t wanted) {
  if (!writer.input) {
    writer.stickyError = ZipResult::NotInitialised;
    return 0;
  }
  if (writer.stop.StopRequested()) {
    writer.inputResult = ZipResult::ReadFailed;
    return 0;
  }
  const std::uint32_t got = writer.input->read(destination, wanted);
  if (got == kSourceReadFailed) {
    writer.inputResult = ZipResult::ReadFailed;
    return 0;
  }
  writer.bytesRead += got;
  writer.crc = crc32Update(writer.crc, destination, got);
  return got;
}

std::uint32_t zipReadCallback(FlateState* state, std::uint8_t* destination, std::uint32_t wanted) {
  return readMemberInput(*static_cast<ZipWriter*>(state->param), destination, wanted);
}

}  // namespace vaultwick
