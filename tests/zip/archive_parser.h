#pragma once

// A small, independent reader of the archive structure for tests and the fuzzer:
// end record (with its ZIP64 form), central headers, local headers and the data
// span of every member. It trusts nothing and reports the first inconsistency.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vaultwick::testing {

struct ParsedMember {
  std::string name;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t localFlags = 0;
  std::uint16_t method = 0;
  std::uint16_t localExtraLength = 0;
  std::uint16_t centralExtraLength = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t dosStamp = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t localCrc32 = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t localHeaderOffset = 0;  // as recorded, base offset included
  std::uint64_t dataOffset = 0;         // within the parsed bytes
  bool hasDataDescriptor = false;       // 50 4B 07 08 right after the data
};

struct ParsedArchive {
  std::vector<ParsedMember> members;
  std::uint64_t directoryOffset = 0;  // as recorded
  std::uint64_t directorySize = 0;
  bool zip64EndRecord = false;
};

// `baseOffset` is the position of data[0] within the file the offsets count from.
// Returns an empty string on success, else what is wrong.
std::string parseArchive(const std::uint8_t* data, std::size_t size, std::uint64_t baseOffset,
                         ParsedArchive& archive);

}  // namespace vaultwick::testing
