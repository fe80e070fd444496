#include "zip/detail/zip_writer_internal.h"

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
  ZipResult result = ZipResult::BadArguments;
  switch (kind) {
    case ZipSourceKind::FileName:
      writer.input = openFileNameSource(static_cast<const char*>(source), writer.facts, result);
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

// The header values before the data is known (the "first writing").
void fillFirstValues(ZipEntry& entry, const ZipWriter& writer) {
  const MemberFacts& facts = writer.facts;
  const bool sizeKnown = facts.expectedSize >= 0;
  const auto expected = static_cast<std::uint64_t>(facts.expectedSize);
  entry.versionMadeBy = fmt::kVersionMadeBy;
  entry.versionNeeded = fmt::kVersionNeeded;
  entry.generalFlags = fmt::kFlagDataDescriptor;
  entry.localFlags = fmt::kFlagDataDescriptor;
  entry.dosStamp = facts.dosStamp;
  entry.crc32 = 0;
  entry.compressedSize = entry.method == fmt::kMethodStored && sizeKnown ? expected : 0;
  entry.uncompressedSize = sizeKnown ? expected : fmt::kZip64Marker32;
  entry.externalAttributes = facts.externalAttributes;
  entry.localHeaderOffset = writer.bytesWritten + writer.output->baseOffset();
  // Room for 8-byte sizes has to be made now: the header is rewritten in place later.
  entry.localZip64 = sizeKnown && expected >= fmt::kZip64Marker32;
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

  result = openMemberInput(writer, source, size, kind);
  if (result != ZipResult::Ok) {
    return result;
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

  ZipResult dataResult = ZipResult::Ok;
  if (!folder) {
    dataResult = stored ? storeMemberData(writer) : deflateMemberData(writer, entry);
  }
  writer.input.reset();
  if (writer.failed()) {
    return writer.stickyError;
  }
  if (dataResult != ZipResult::Ok) {
    return dataResult;
  }

  entry.crc32 = writer.crc;
  entry.compressedSize = writer.compressedSize;
  entry.uncompressedSize = writer.bytesRead;
  if (writer.output->seekable()) {
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
