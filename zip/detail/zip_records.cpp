#include "zip/detail/zip_records.h"

#include <algorithm>
#include <cstring>

#include "zip/little_endian.h"

namespace vaultwick {

namespace {

namespace fmt = zip_format;

// Room for the longest record: a central header with a full name and every extra.
constexpr std::size_t kRecordCapacity = fmt::central_header::kSize + fmt::kMaxNameLength +
                                        fmt::timestamp_extra::kCentralSize +
                                        fmt::zip64_extra::kMaxCentralSize + fmt::aes_extra::kSize;

bool fitsClassic(std::uint64_t value) {
  return value < fmt::kZip64Marker32;
}

// The classic 32-bit field of a value that may not fit: the value or the marker.
std::uint32_t classic32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, fmt::kZip64Marker32));
}

// What the headers say of an encrypted member in place of its own values.
std::uint16_t headerMethod(const ZipEntry& entry) {
  return entry.encrypted ? fmt::kMethodAes : entry.method;
}

std::uint32_t headerCrc32(const ZipEntry& entry) {
  return entry.encrypted ? 0 : entry.crc32;
}

std::uint16_t headerVersionNeeded(const ZipEntry& entry, bool zip64) {
  std::uint16_t version = zip64 ? fmt::kVersionNeededZip64 : entry.versionNeeded;
  return entry.encrypted ? std::max(version, fmt::kVersionNeededAes) : version;
}

std::size_t aesExtraLength(const ZipEntry& entry) {
  return entry.encrypted ? fmt::aes_extra::kSize : 0;
}

// Appends the AES extra field of an encrypted member at `record`; returns its length.
std::size_t putAesExtra(std::uint8_t* record, const ZipEntry& entry) {
  if (!entry.encrypted) {
    return 0;
  }
  namespace aes = fmt::aes_extra;
  putU16(record, aes::kTagOffset, aes::kTag);
  putU16(record, aes::kDataSize, aes::kSize - 4);
  putU16(record, aes::kVendorVersion, aes::kVendorVersionAe2);
  std::memcpy(record + aes::kVendorIdOffset, aes::kVendorId, sizeof aes::kVendorId);
  record[aes::kStrength] = aes::kStrengthAes256;
  putU16(record, aes::kMethod, entry.method);
  return aes::kSize;
}

bool emit(ZipSink& sink, const std::uint8_t* record, std::size_t length) {
  const auto count = static_cast<std::uint32_t>(length);
  return sink.write(record, count) == count;
}

// Values that go into the central header's ZIP64 field, in their fixed order.
struct CentralZip64 {
  std::uint64_t values[3];
  int count = 0;
};

CentralZip64 centralZip64Values(const ZipEntry& entry) {
  CentralZip64 result{};
  for (std::uint64_t value :
       {entry.uncompressedSize, entry.compressedSize, entry.localHeaderOffset}) {
    if (!fitsClassic(value)) {
      result.values[result.count++] = value;
    }
  }
  return result;
}

std::uint32_t centralZip64Length(const ZipEntry& entry) {
  const int count = centralZip64Values(entry).count;
  return count == 0 ? 0
                    : static_cast<std::uint32_t>(fmt::zip64_extra::kHeadSize +
                                                 fmt::zip64_extra::kValueSize * count);
}

}  // namespace

void setTimestampExtras(ZipEntry& entry, std::uint32_t modificationTime, std::uint32_t accessTime,
                        std::uint32_t creationTime) {
  namespace ut = fmt::timestamp_extra;
  std::uint8_t* local = entry.localExtra.data();
  putU16(local, ut::kTagOffset, ut::kTag);
  putU16(local, ut::kDataSize, ut::kLocalSize - 4);
  local[ut::kFlags] = ut::kAllTimesPresent;
  putU32(local, ut::kModificationTime, modificationTime);
  putU32(local, ut::kAccessTime, accessTime);
  putU32(local, ut::kCreationTime, creationTime);
  std::memcpy(entry.centralExtra.data(), local, ut::kCentralSize);
  putU16(entry.centralExtra.data(), ut::kDataSize, ut::kCentralSize - 4);
}

bool sizesFitClassic(const ZipEntry& entry) {
  return fitsClassic(entry.compressedSize) && fitsClassic(entry.uncompressedSize);
}

std::uint32_t localHeaderLength(const ZipEntry& entry) {
  return static_cast<std::uint32_t>(
      fmt::local_header::kSize + entry.nameLength + fmt::timestamp_extra::kLocalSize +
      (entry.localZip64 ? fmt::zip64_extra::kLocalSize : 0) + aesExtraLength(entry));
}

std::uint32_t dataDescriptorLength(const ZipEntry& entry) {
  return static_cast<std::uint32_t>(entry.localZip64 ? fmt::data_descriptor::kZip64Size
                                                     : fmt::data_descriptor::kSize);
}

std::uint32_t centralHeaderLength(const ZipEntry& entry) {
  return static_cast<std::uint32_t>(fmt::central_header::kSize + entry.nameLength +
                                    fmt::timestamp_extra::kCentralSize + entry.commentLength +
                                    aesExtraLength(entry)) +
         centralZip64Length(entry);
}

bool writeLocalHeader(ZipSink& sink, const ZipEntry& entry) {
  namespace lh = fmt::local_header;
  std::uint8_t record[kRecordCapacity] = {};
  const std::size_t extraLength = localHeaderLength(entry) - lh::kSize - entry.nameLength;
  putU32(record, lh::kSignature, lh::kSignatureValue);
  putU16(record, lh::kVersionNeeded, headerVersionNeeded(entry, entry.localZip64));
  putU16(record, lh::kFlags, entry.localFlags);
  putU16(record, lh::kMethod, headerMethod(entry));
  putU16(record, lh::kDosTime, static_cast<std::uint16_t>(entry.dosStamp));
  putU16(record, lh::kDosDate, static_cast<std::uint16_t>(entry.dosStamp >> 16));
  putU32(record, lh::kCrc32, headerCrc32(entry));
  putU32(record, lh::kCompressedSize,
         entry.localZip64 ? fmt::kZip64Marker32 : classic32(entry.compressedSize));
  putU32(record, lh::kUncompressedSize,
         entry.localZip64 ? fmt::kZip64Marker32 : classic32(entry.uncompressedSize));
  putU16(record, lh::kNameLength, entry.nameLength);
  putU16(record, lh::kExtraLength, static_cast<std::uint16_t>(extraLength));
  std::size_t at = lh::kSize;
  std::memcpy(record + at, entry.name.data(), entry.nameLength);
  at += entry.nameLength;
  std::memcpy(record + at, entry.localExtra.data(), entry.localExtra.size());
  at += entry.localExtra.size();
  if (entry.localZip64) {
    namespace z64 = fmt::zip64_extra;
    putU16(record + at, z64::kTagOffset, z64::kTag);
    putU16(record + at, z64::kDataSize, z64::kLocalDataSize);
    putU64(record + at, z64::kValues, entry.uncompressedSize);
    putU64(record + at, z64::kValues + z64::kValueSize, entry.compressedSize);
    at += z64::kLocalSize;
  }
  at += putAesExtra(record + at, entry);
  return emit(sink, record, at);
}

bool writeDataDescriptor(ZipSink& sink, const ZipEntry& entry) {
  namespace dd = fmt::data_descriptor;
  std::uint8_t record[dd::kZip64Size] = {};
  putU32(record, dd::kSignature, dd::kSignatureValue);
  putU32(record, dd::kCrc32, headerCrc32(entry));
  if (entry.localZip64) {
    putU64(record, dd::kCompressedSize, entry.compressedSize);
    putU64(record, dd::kZip64UncompressedSize, entry.uncompressedSize);
    return emit(sink, record, dd::kZip64Size);
  }
  putU32(record, dd::kCompressedSize, classic32(entry.compressedSize));
  putU32(record, dd::kUncompressedSize, classic32(entry.uncompressedSize));
  return emit(sink, record, dd::kSize);
}

bool writeCentralHeader(ZipSink& sink, const ZipEntry& entry) {
  namespace ch = fmt::central_header;
  std::uint8_t record[kRecordCapacity] = {};
  const CentralZip64 zip64 = centralZip64Values(entry);
  const std::uint32_t zip64Length = centralZip64Length(entry);
  const bool needsZip64 = zip64.count > 0 || entry.localZip64;
  putU32(record, ch::kSignature, ch::kSignatureValue);
  putU16(record, ch::kVersionMadeBy, entry.versionMadeBy);
  putU16(record, ch::kVersionNeeded, headerVersionNeeded(entry, needsZip64));
  putU16(record, ch::kFlags, entry.generalFlags);
  putU16(record, ch::kMethod, headerMethod(entry));
  putU16(record, ch::kDosTime, static_cast<std::uint16_t>(entry.dosStamp));
  putU16(record, ch::kDosDate, static_cast<std::uint16_t>(entry.dosStamp >> 16));
  putU32(record, ch::kCrc32, headerCrc32(entry));
  putU32(record, ch::kCompressedSize, classic32(entry.compressedSize));
  putU32(record, ch::kUncompressedSize, classic32(entry.uncompressedSize));
  putU16(record, ch::kNameLength, entry.nameLength);
  putU16(record, ch::kExtraLength,
         static_cast<std::uint16_t>(fmt::timestamp_extra::kCentralSize + zip64Length +
                                    aesExtraLength(entry)));
  putU16(record, ch::kCommentLength, entry.commentLength);
  putU16(record, ch::kDiskNumberStart, entry.diskNumberStart);
  putU16(record, ch::kInternalAttributes, entry.internalAttributes);
  putU32(record, ch::kExternalAttributes, entry.externalAttributes);
  putU32(record, ch::kLocalHeaderOffset, classic32(entry.localHeaderOffset));
  std::size_t at = ch::kSize;
  std::memcpy(record + at, entry.name.data(), entry.nameLength);
  at += entry.nameLength;
  std::memcpy(record + at, entry.centralExtra.data(), entry.centralExtra.size());
  at += entry.centralExtra.size();
  if (zip64.count > 0) {
    namespace z64 = fmt::zip64_extra;
    putU16(record + at, z64::kTagOffset, z64::kTag);
    putU16(record + at, z64::kDataSize, static_cast<std::uint16_t>(z64::kValueSize * zip64.count));
    for (int i = 0; i < zip64.count; ++i) {
      putU64(record + at, z64::kValues + z64::kValueSize * i, zip64.values[i]);
    }
    at += zip64Length;
  }
  at += putAesExtra(record + at, entry);
  return emit(sink, record, at);
}

bool writeEndRecord(ZipSink& sink, std::uint64_t memberCount, std::uint64_t directorySize,
                    std::uint64_t directoryOffset) {
  const bool needsZip64 = memberCount >= fmt::kZip64Marker16 || !fitsClassic(directorySize) ||
                          !fitsClassic(directoryOffset);
  if (needsZip64) {
    namespace z64 = fmt::zip64_end_record;
    namespace loc = fmt::zip64_locator;
    std::uint8_t record[z64::kSize + loc::kSize] = {};
    putU32(record, z64::kSignature, z64::kSignatureValue);
    putU64(record, z64::kRecordSize, z64::kRecordSizeValue);
    putU16(record, z64::kVersionMadeBy, fmt::kVersionNeededZip64);
    putU16(record, z64::kVersionNeeded, fmt::kVersionNeededZip64);
    putU64(record, z64::kEntriesOnDisk, memberCount);
    putU64(record, z64::kTotalEntries, memberCount);
    putU64(record, z64::kDirectorySize, directorySize);
    putU64(record, z64::kDirectoryOffset, directoryOffset);
    std::uint8_t* locator = record + z64::kSize;
    putU32(locator, loc::kSignature, loc::kSignatureValue);
    putU64(locator, loc::kEndRecordOffset, directoryOffset + directorySize);
    putU32(locator, loc::kTotalDisks, 1);
    if (!emit(sink, record, sizeof record)) {
      return false;
    }
  }
  namespace er = fmt::end_record;
  std::uint8_t record[er::kSize] = {};
  const auto count16 =
      static_cast<std::uint16_t>(std::min<std::uint64_t>(memberCount, fmt::kZip64Marker16));
  putU32(record, er::kSignature, er::kSignatureValue);
  putU16(record, er::kEntriesOnDisk, count16);
  putU16(record, er::kTotalEntries, count16);
  putU32(record, er::kDirectorySize, classic32(directorySize));
  putU32(record, er::kDirectoryOffset, classic32(directoryOffset));
  return emit(sink, record, er::kSize);
}

}  // namespace vaultwick
