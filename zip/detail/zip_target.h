#pragma once

// Where an archive goes. Targets are thin adapters: they move bytes and know
// whether they can be repositioned; every format decision is the writer's.

#include <cstdint>
#include <memory>

#include "zip/zip_result.h"

namespace vaultwick {

class ZipTarget {
 public:
  virtual ~ZipTarget() = default;
  // A target that can be repositioned gets its local headers rewritten in place;
  // any other gets data descriptors.
  virtual bool seekable() const = 0;
  // Position of the target's start within its file; recorded offsets include it.
  virtual std::uint64_t baseOffset() const { return 0; }
  // Writes `count` bytes and returns how many it took. A failure that spoils the
  // whole archive is also stored in `sticky`.
  virtual std::uint32_t write(const std::uint8_t* data, std::uint32_t count, ZipResult& sticky) = 0;
  // Positions the output `position` bytes past the base offset.
  virtual bool seek(std::uint64_t position, ZipResult& sticky) = 0;
  // Reads back `count` archive bytes already written at `position` past the base
  // offset, so that a member's data can be moved; false when they cannot be read.
  virtual bool readBack(std::uint64_t position, std::uint8_t* data, std::uint32_t count) = 0;
  // Lets go of the output. False when that failed: a file system may report a
  // lost write only then, and the archive is then not whole.
  virtual bool release() { return true; }
  // The memory block of a memory target, else null.
  virtual void* memory() const { return nullptr; }
  // The descriptor written to, or -1 for memory.
  virtual int descriptor() const { return -1; }
};

// Each sets `result` and returns null on failure.
std::unique_ptr<ZipTarget> openFileNameTarget(const char* path, ZipResult& result);
std::unique_ptr<ZipTarget> openHandleTarget(const int* fd, ZipResult& result);
std::unique_ptr<ZipTarget> openMemoryTarget(void* buffer, std::uint32_t size, ZipResult& result);

}  // namespace vaultwick
