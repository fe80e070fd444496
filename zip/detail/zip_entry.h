#pragma once

// ZipEntry: the header values of one member. The writer fills one per member,
// keeps a copy of every member it added successfully, and hands them to the
// record writers. Sizes and the offset are kept at full width; the record
// writers decide where a value needs a ZIP64 field.

#include <array>
#include <cstdint>

#include "zip/zip_format.h"

namespace vaultwick {

struct ZipEntry {
  std::uint16_t versionMadeBy = zip_format::kVersionMadeBy;
  std::uint16_t versionNeeded = zip_format::kVersionNeeded;
  std::uint16_t generalFlags = zip_format::kFlagDataDescriptor;  // as in the central header
  std::uint16_t method = zip_format::kMethodStored;
  std::uint32_t dosStamp = 0;  // DOS date in the high half, DOS time in the low half
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t commentLength = 0;
  std::uint16_t diskNumberStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint16_t localFlags = zip_format::kFlagDataDescriptor;  // as in the local header
  std::uint32_t externalAttributes = 0;
  std::uint64_t localHeaderOffset = 0;
  // The local header carries a ZIP64 field (decided once, when the member is opened,
  // so that the rewritten header keeps its length).
  bool localZip64 = false;
  // Encrypted with AES-256 (AE-2): the headers say method 99 with an AES extra
  // field naming `method`, and CRC-32 0; `crc32` keeps the real value all the same.
  bool encrypted = false;
  std::array<char, zip_format::kMaxNameLength + 1> name{};
  std::array<std::uint8_t, zip_format::timestamp_extra::kLocalSize> localExtra{};
  std::array<std::uint8_t, zip_format::timestamp_extra::kCentralSize> centralExtra{};
};

}  // namespace vaultwick
