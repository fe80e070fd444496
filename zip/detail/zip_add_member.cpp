#include "zip/detail/zip_writer_internal.h"

#include <sys/stat.h>

#include "zip/detail/zip_names.h"

namespace vaultwick {

namespace {

namespace fmt = zip_format;

// Clears the member state and opens its input by kind; fills writer.facts.
ZipResult openMemberInput(ZipWriter& writer, const void* source, std::uint32_t size,
                          ZipSourceKind kind) {
  writer.input.reset();
  writer.facts = MemberFacts{};
  writer.bytesRead = 0;
  writer.crc = 0;
  writer.compressedSize = 0;
  writer.dataWriteFailed = false;
  writer.inputResult = ZipResult::Ok;
  writer.encryptor.reset();
  ZipResult result = ZipResult::BadArguments;
  switch (kind) {
    case ZipSourceKind::FileName:
      writer.input =
          writer.growing != nullptr
              ? openGrowingFileSource(static_cast<const char*>(source), *writer.growing,
                                      writer.facts, result)
              : openFileNameSource(static_cast<const char*>(source), writer.facts, result);
      break;
    case ZipSourceKind::Handle:
      writer.input = openHandleSource(static_cast<const int*>(source), size, writer.facts, result);
      break;
    case ZipSourceKind::Memory:
      writer.input = openMemorySource(source, size, writer.facts, result);
      break;
    case ZipSourceKind::Folder:
      writer.facts = streamFacts(fmt::attributes::kFolder, 0);
      result = ZipResult::Ok;
      break;
  }
  return result;
}

// A member read from the archive's own file would grow with every byte written.
bool readsOwnOutput(const ZipWriter& writer) {
  const int in = writer.input ? writer.input->descriptor() : -1;
  const int out = writer.output->descriptor();
  struct stat source {};
  struct stat target {};
  return in >= 0 && out >= 0 && fstat(in, &source) == 0 && fstat(out, &target) == 0 &&
         S_ISREG(source.st_mode) && source.st_dev == target.st_dev &&
         source.st_ino == target.st_ino;
}

// The header values before the data is known (the "first writing").
void fillFirstValues(ZipEntry& entry, const ZipWriter& writer) {
  const MemberFacts& facts = writer.facts;
  const bool sizeKnown = facts.expectedSize >= 0;
  const auto expected = static_cast<std::uint64_t>(facts.expectedSize);
  entry.versionMadeBy = fmt::kVersionMadeBy;
  entry.versionNeeded = fmt::kVersionNeeded;
  const std::uint16_t nameFlag =
      isUtf8BeyondAscii(entry.name.data(), entry.nameLength) ? fmt::kFlagUtf8Name : 0;
  const std::uint16_t encryptedFlag = entry.encrypted ? fmt::kFlagEncrypted : 0;
  const std::uint64_t overhead = entry.encrypted ? fmt::aes_data::kOverhead : 0;
  entry.generalFlags = fmt::kFlagDataDescriptor | nameFlag | encryptedFlag;
  entry.localFlags = entry.generalFlags;
  entry.dosStamp = facts.dosStamp;
  entry.crc32 = 0;
  entry.compressedSize = entry.method == fmt::kMethodStored && sizeKnown ? expected + overhead : 0;
  entry.uncompressedSize = sizeKnown ? expected : fmt::kZip64Marker32;
  entry.externalAttributes = facts.externalAttributes;
  entry.localHeaderOffset = writer.bytesWritten + writer.output->baseOffset();
  // Room for 8-byte sizes has to be made now: the header is rewritten in place later.
  entry.localZip64 = sizeKnown && expected + overhead >= fmt::kZip64Marker32;
  setTimestampExtras(entry, facts.modificationTime, facts.accessTime, facts.creationTime);
}

// Rewrites the local header in place with the final values and returns to the end.
ZipResult rewriteLocalHeader(ZipWriter& writer, ZipEntry& entry) {
  entry.generalFlags &= static_cast<std::uint16_t>(~fmt::kFlagDataDescriptor);
  entry.localFlags = entry.generalFlags;
  const std::uint64_t end = writer.bytesWritten;
  if (!writer.output->seek(entry.localHeaderOffset - writer.output->baseOffset(),
                           writer.stickyError)) {
    return ZipResult::SeekImpossible;
  }
  const bool rewritten = writeLocalHeader(writer, entry);
  writer.bytesWritten = end;
  // Go back to the end even after a failed rewrite, so that later members land right.
  const bool returned = writer.output->seek(end, writer.stickyError);
  if (!rewritten) {
    return ZipResult::WriteFailed;
  }
  return returned ? ZipResult::Ok : ZipResult::SeekImpossible;
}

}  // namespace

ZipResult addMember(ZipWriter& writer, const char* name, const void* source, std::uint32_t size,
                    ZipSourceKind kind) {
  if (writer.failed()) {
    return ZipResult::PreviousError;
  }
  if (writer.state == WriterState::Finished) {
    return ZipResult::AlreadyEnded;
  }
  const bool folder = kind == ZipSourceKind::Folder;
  ZipEntry entry;
  ZipResult result = setMemberName(entry, name, folder);
  if (result != ZipResult::Ok) {
    return result;
  }
  const bool stored = folder || isPrecompressedName(entry.name.data());
  entry.method = stored ? fmt::kMethodStored : fmt::kMethodDeflated;
  // A folder entry has no data to hide.
  entry.encrypted = !folder && !writer.password.empty();

  result = openMemberInput(writer, source, size, kind);
  if (result != ZipResult::Ok) {
    return result;
  }
  if (readsOwnOutput(writer)) {
    writer.input.reset();
    return ZipResult::BadArguments;
  }
  fillFirstValues(entry, writer);

  if (!writeLocalHeader(writer, entry)) {
    writer.input.reset();
    return ZipResult::WriteFailed;
  }
  if (writer.failed()) {
    writer.input.reset();
    return writer.stickyError;
  }
  const std::uint64_t firstCompressedSize = entry.compressedSize;

  ZipResult dataResult = entry.encrypted ? startEncryptedData(writer) : ZipResult::Ok;
  if (!folder && dataResult == ZipResult::Ok) {
    dataResult = stored ? storeMemberData(writer) : deflateMemberData(writer, entry);
  }
  if (writer.input && writer.input->finalFacts(writer.facts)) {
    // A file that was still growing at the first writing: its final facts go
    // into the rewritten header and the central directory.
    entry.dosStamp = writer.facts.dosStamp;
    entry.externalAttributes = writer.facts.externalAttributes;
    setTimestampExtras(entry, writer.facts.modificationTime, writer.facts.accessTime,
                       writer.facts.creationTime);
  }
  writer.input.reset();
  if (writer.failed()) {
    return writer.stickyError;
  }
  if (writer.inputResult != ZipResult::Ok) {
    return writer.inputResult;
  }
  if (dataResult == ZipResult::Ok && entry.encrypted) {
    dataResult = finishEncryptedData(writer);
  }
  if (dataResult != ZipResult::Ok) {
    return dataResult;
  }
  if (writer.facts.exactSize &&
      writer.bytesRead != static_cast<std::uint64_t>(writer.facts.expectedSize)) {
    return ZipResult::SizeMismatch;
  }

  entry.crc32 = writer.crc;
  entry.compressedSize = writer.compressedSize;
  entry.uncompressedSize = writer.bytesRead;
  if (writer.output->seekable()) {
    if (!entry.localZip64 && !sizesFitClassic(entry)) {
      result = widenLocalHeader(writer, entry);
      if (result != ZipResult::Ok) {
        return result;
      }
    }
    result = rewriteLocalHeader(writer, entry);
    if (result != ZipResult::Ok) {
      return result;
    }
  } else {
    // The stored data is out already, behind a header that announced another length.
    if (stored && firstCompressedSize != entry.compressedSize) {
      return ZipResult::MethodChanged;
    }
    if (!writeDataDescriptor(writer, entry)) {
      return ZipResult::WriteFailed;
    }
    entry.generalFlags = entry.localFlags;
  }
  if (writer.failed()) {
    return writer.stickyError;
  }
  writer.entries.push_back(entry);
  return ZipResult::Ok;
}

}  // namespace vaultwick
