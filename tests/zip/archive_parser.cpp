#include "tests/zip/archive_parser.h"

namespace vaultwick::testing {

namespace {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;

  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
  std::uint64_t le(std::uint64_t offset, int bytes) const {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
      value = (value << 8) | data[offset + i];
    }
    return value;
  }
  std::uint16_t u16(std::uint64_t offset) const {
    return static_cast<std::uint16_t>(le(offset, 2));
  }
  std::uint32_t u32(std::uint64_t offset) const {
    return static_cast<std::uint32_t>(le(offset, 4));
  }
  std::uint64_t u64(std::uint64_t offset) const { return le(offset, 8); }
};

constexpr std::uint32_t kMarker = 0xFFFFFFFF;

// Replaces marked values by those of the ZIP64 extra field found in [extra, extra+length).
bool applyZip64(const Reader& in, std::uint64_t extra, std::uint16_t length,
                std::uint64_t* values[], int count) {
  std::uint64_t at = extra;
  while (at + 4 <= extra + length) {
    const std::uint16_t tag = in.u16(at);
    const std::uint16_t dataSize = in.u16(at + 2);
    if (at + 4 + dataSize > extra + length) {
      return false;
    }
    if (tag == 0x0001) {
      std::uint64_t field = at + 4;
      for (int i = 0; i < count; ++i) {
        if (*values[i] == kMarker) {
          if (field + 8 > at + 4 + dataSize) {
            return false;
          }
          *values[i] = in.u64(field);
          field += 8;
        }
      }
      return true;
    }
    at += 4 + dataSize;
  }
  for (int i = 0; i < count; ++i) {
    if (*values[i] == kMarker) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string parseArchive(const std::uint8_t* data, std::size_t size, std::uint64_t baseOffset,
                         ParsedArchive& archive) {
  const Reader in{data, size};
  if (size < 22) {
    return "shorter than an end record";
  }
  const std::uint64_t end = size - 22;
  if (in.u32(end) != 0x06054B50) {
    return "no end record at the end";
  }
  if (in.u16(end + 20) != 0) {
    return "archive comment present";
  }
  std::uint64_t count = in.u16(end + 10);
  archive.directorySize = in.u32(end + 12);
  archive.directoryOffset = in.u32(end + 16);
  if (in.u16(end + 8) != count) {
    return "entry counts differ";
  }
  if (count == 0xFFFF || archive.directorySize == kMarker || archive.directoryOffset == kMarker) {
    if (end < 20 || in.u32(end - 20) != 0x07064B50) {
      return "marker without ZIP64 locator";
    }
    const std::uint64_t recordAt = in.u64(end - 20 + 8);
    if (recordAt < baseOffset || !in.has(recordAt - baseOffset, 56) ||
        in.u32(recordAt - baseOffset) != 0x06064B50) {
      return "no ZIP64 end record where the locator points";
    }
    const std::uint64_t r = recordAt - baseOffset;
    count = in.u64(r + 32);
    archive.directorySize = in.u64(r + 40);
    archive.directoryOffset = in.u64(r + 48);
    archive.zip64EndRecord = true;
  }
  if (archive.directoryOffset < baseOffset) {
    return "directory offset before the base";
  }
  std::uint64_t at = archive.directoryOffset - baseOffset;
  if (!in.has(at, archive.directorySize)) {
    return "directory outside the archive";
  }
  const std::uint64_t directoryEnd = at + archive.directorySize;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!in.has(at, 46) || at + 46 > directoryEnd || in.u32(at) != 0x02014B50) {
      return "bad central header " + std::to_string(i);
    }
    ParsedMember m;
    m.versionMadeBy = in.u16(at + 4);
    m.versionNeeded = in.u16(at + 6);
    m.flags = in.u16(at + 8);
    m.method = in.u16(at + 10);
    m.dosStamp = in.u32(at + 12);
    m.crc32 = in.u32(at + 16);
    m.compressedSize = in.u32(at + 20);
    m.uncompressedSize = in.u32(at + 24);
    const std::uint16_t nameLength = in.u16(at + 28);
    m.centralExtraLength = in.u16(at + 30);
    const std::uint16_t commentLength = in.u16(at + 32);
    m.internalAttributes = in.u16(at + 36);
    m.externalAttributes = in.u32(at + 38);
    m.localHeaderOffset = in.u32(at + 42);
    const std::uint64_t variable = nameLength + m.centralExtraLength + commentLength;
    if (at + 46 + variable > directoryEnd) {
      return "central header " + std::to_string(i) + " runs past the directory";
    }
    m.name.assign(reinterpret_cast<const char*>(data + at + 46), nameLength);
    std::uint64_t* marked[] = {&m.uncompressedSize, &m.compressedSize, &m.localHeaderOffset};
    if (!applyZip64(in, at + 46 + nameLength, m.centralExtraLength, marked, 3)) {
      return "bad ZIP64 field in central header " + std::to_string(i);
    }
    at += 46 + variable;

    if (m.localHeaderOffset < baseOffset) {
      return "local header offset before the base";
    }
    const std::uint64_t local = m.localHeaderOffset - baseOffset;
    if (!in.has(local, 30) || in.u32(local) != 0x04034B50) {
      return "no local header for " + m.name;
    }
    m.localFlags = in.u16(local + 6);
    m.localCrc32 = in.u32(local + 14);
    const std::uint16_t localNameLength = in.u16(local + 26);
    m.localExtraLength = in.u16(local + 28);
    if (in.u16(local + 8) != m.method || localNameLength != nameLength ||
        !in.has(local + 30, nameLength + m.localExtraLength) ||
        m.name != std::string(reinterpret_cast<const char*>(data + local + 30), nameLength)) {
      return "local header disagrees for " + m.name;
    }
    m.dataOffset = local + 30 + nameLength + m.localExtraLength;
    if (!in.has(m.dataOffset, m.compressedSize)) {
      return "data of " + m.name + " outside the archive";
    }
    const std::uint64_t after = m.dataOffset + m.compressedSize;
    m.hasDataDescriptor = in.has(after, 4) && in.u32(after) == 0x08074B50;
    archive.members.push_back(m);
  }
  if (at != directoryEnd) {
    return "directory size does not match its headers";
  }
  return {};
}

}  // namespace vaultwick::testing
