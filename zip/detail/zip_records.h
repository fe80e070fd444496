#pragma once

// The record writers: each lays out one record of an archive and emits it
// through a sink in one piece. They decide nothing about when a record is
// written or with which values; that is the writer's business.

#include <cstdint>

#include "zip/detail/zip_entry.h"

namespace vaultwick {

// Where records go. write() returns the number of bytes it took.
class ZipSink {
 public:
  virtual std::uint32_t write(const std::uint8_t* data, std::uint32_t count) = 0;

 protected:
  ~ZipSink() = default;
};

// Fills the "UT" extra fields of an entry from the three Unix times.
void setTimestampExtras(ZipEntry& entry, std::uint32_t modificationTime, std::uint32_t accessTime,
                        std::uint32_t creationTime);

// Whether both sizes fit the local header's 32-bit fields without a ZIP64 field.
bool sizesFitClassic(const ZipEntry& entry);

// Record lengths as they go into the output.
std::uint32_t localHeaderLength(const ZipEntry& entry);
std::uint32_t dataDescriptorLength(const ZipEntry& entry);
std::uint32_t centralHeaderLength(const ZipEntry& entry);

// Each returns false when the sink took fewer bytes than the record holds.
[[nodiscard]] bool writeLocalHeader(ZipSink& sink, const ZipEntry& entry);
[[nodiscard]] bool writeDataDescriptor(ZipSink& sink, const ZipEntry& entry);
[[nodiscard]] bool writeCentralHeader(ZipSink& sink, const ZipEntry& entry);
// Writes the ZIP64 end record and locator first when a value needs them.
[[nodiscard]] bool writeEndRecord(ZipSink& sink, std::uint64_t memberCount,
                                  std::uint64_t directorySize, std::uint64_t directoryOffset);

}  // namespace vaultwick
