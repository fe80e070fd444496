#pragma once

// The state of one archive being written, and the writer's internal steps.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/stop_token.h"
#include "deflate/flate.h"
#include "zip/detail/zip_aes.h"
#include "zip/detail/zip_entry.h"
#include "zip/detail/zip_member_facts.h"
#include "zip/detail/zip_records.h"
#include "zip/detail/zip_source.h"
#include "zip/detail/zip_target.h"
#include "zip/zip_writer.h"

namespace vaultwick {

// A handle with this tag is an archive being written.
inline constexpr std::uint32_t kWritingTag = 2;

inline constexpr std::uint32_t kWriterBufferSize = 16384;

enum class WriterState {
  Open,      // accepts members (unless the sticky error is set)
  Finished,  // central directory written; no more members
};

struct ZipWriter final : ZipSink {
  std::unique_ptr<ZipTarget> output;
  // Set by failures that spoil the archive as a whole; later additions fail.
  ZipResult stickyError = ZipResult::Ok;
  WriterState state = WriterState::Open;
  // What finishing gave, once it has run.
  ZipResult finishResult = ZipResult::Ok;
  // Archive bytes emitted so far at the end of the output, not counting the base offset.
  std::uint64_t bytesWritten = 0;
  int packLevel = kDefaultPackLevel;
  unsigned threads = 1;  // compressor parse threads per deflated member
  // Once stopped, reading a member's input stops and the member fails as unread.
  StopToken stop = StopToken::Never();
  // When set, a member from a file name is a file still being appended to.
  const GrowingFileEnd* growing = nullptr;
  // Members added successfully, in order of addition.
  std::vector<ZipEntry> entries;
  // When not empty, every member with data added from now on is encrypted under it.
  std::string password;

  // The member in progress.
  MemberFacts facts;
  std::unique_ptr<ZipSource> input;
  std::uint64_t bytesRead = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  bool dataWriteFailed = false;
  // ReadFailed once the input could not be read or a stop was asked for.
  ZipResult inputResult = ZipResult::Ok;
  // The enciphering of the member in progress, when it is encrypted, and where
  // its enciphered data is put on the way out.
  std::unique_ptr<ZipAesEncryptor> encryptor;
  std::vector<std::uint8_t> cipherBuffer;

  std::array<std::uint8_t, kWriterBufferSize> buffer{};

  ZipWriter() = default;
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;
  ~ZipWriter();
  bool failed() const { return stickyError != ZipResult::Ok; }
  std::uint32_t write(const std::uint8_t* data, std::uint32_t count) override;
};

struct ZipHandle {
  std::uint32_t tag = kWritingTag;
  std::unique_ptr<ZipWriter> writer;
};

// The compressor's read_input: the next bytes of the member in progress.
std::uint32_t zipReadCallback(FlateState* state, std::uint8_t* destination, std::uint32_t wanted);
// The compressor's write_output: compressed bytes to the archive output.
bool zipFlushCallback(void* param, const std::uint8_t* data, std::uint32_t* count);
// Every archive byte passes here; returns the number written.
std::uint32_t zipWriteCallback(ZipWriter* writer, const std::uint8_t* data, std::uint32_t count);

// Member data to the archive output, enciphered on the way when the member is
// encrypted; returns how many of the bytes went out.
std::uint32_t writeMemberData(ZipWriter& writer, const std::uint8_t* data, std::uint32_t count);

// Reads the member's input, keeping its CRC-32 and length. A failed read or a
// stop request gives 0, ending the data, and is kept in inputResult.
std::uint32_t readMemberInput(ZipWriter& writer, std::uint8_t* destination, std::uint32_t wanted);

// Produce a member's data: Ok, WriteFailed, or DeflateFailed when a check of
// the compressor failed.
ZipResult storeMemberData(ZipWriter& writer);
ZipResult deflateMemberData(ZipWriter& writer, ZipEntry& entry);
// Null: no encryption. The old password is wiped first.
void setWriterPassword(ZipWriter& writer, const char* password);
// What goes before and after the data of an encrypted member: salt and password
// verifier, authentication code. Ok, WriteFailed, or NoMemory.
ZipResult startEncryptedData(ZipWriter& writer);
ZipResult finishEncryptedData(ZipWriter& writer);

// openZipWriter that also hands its result to the caller: with archives made on
// other threads, lastZipResult may already hold another one when the caller looks.
ZipHandle* openWriter(const void* target, std::uint32_t size, ZipTargetKind kind, int level,
                      ZipResult& result);

// Makes room for a ZIP64 field in the member's local header by moving its data
// on, for a member whose size was unknown at the first writing and turned out
// not to fit 32 bits (the header has to carry the sizes for a reader that
// reads the archive as a stream). The header itself is rewritten afterwards.
ZipResult widenLocalHeader(ZipWriter& writer, ZipEntry& entry);

ZipResult addMember(ZipWriter& writer, const char* name, const void* source, std::uint32_t size,
                    ZipSourceKind kind);
// Central directory and end record; runs once.
ZipResult finishArchive(ZipWriter& writer);

}  // namespace vaultwick
