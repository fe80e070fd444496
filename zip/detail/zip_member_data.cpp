#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

bool storeMemberData(ZipWriter& writer) {
  for (;;) {
    const std::uint32_t got = readMemberInput(writer, writer.buffer.data(), kWriterBufferSize);
    if (got == 0) {
      return true;
    }
    const std::uint32_t written = zipWriteCallback(&writer, writer.buffer.data(), got);
    writer.compressedSize += written;
    if (written != got) {
      return false;
    }
  }
}

bool deflateMemberData(ZipWriter& writer, ZipEntry& entry) {
  // About 370 KiB: too large for a worker thread's stack.
  auto state = std::make_unique<FlateState>();
  state->param = &writer;
  state->pack_level = writer.packLevel;
  state->read_input = zipReadCallback;
  state->write_output = zipFlushCallback;
  state->error_text = nullptr;
  bits_init(state.get(), writer.buffer.data(), kWriterBufferSize);
  ct_init(state.get());
  match_init(state.get(), writer.packLevel, &entry.generalFlags);
  // The compressor counts in 32 bits; the flush callback has counted every byte
  // that reached the output, which also holds for members past 4 GiB.
  static_cast<void>(flate_run(state.get()));
  return state->error_text == nullptr && !writer.dataWriteFailed;
}

}  // namespace vaultwick
