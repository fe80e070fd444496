#pragma once

// Helpers for the archive writer's tests: scratch folders, files with chosen
// times, and the two independent readers (Python's zipfile through
// read_archive.py, and bsdtar).

#include <cstdint>
#include <string>
#include <vector>

#include "tests/zip/archive_parser.h"

namespace vaultwick::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
// Sets access and modification time (UTC seconds).
void setFileTime(const std::string& path, std::int64_t seconds);

std::string textContent(std::size_t size, unsigned seed);    // compressible
std::string randomContent(std::size_t size, unsigned seed);  // incompressible

// Runs a shell command; returns its standard output, stores the exit status.
std::string runCommand(const std::string& command, int* status);
std::string shellQuote(const std::string& text);

// read_archive.py's listing (empty with a failure when the archive does not read back).
std::string pythonListing(const std::string& archive);
std::string pythonExtract(const std::string& archive, const std::string& member);
std::string bsdtarListing(const std::string& archive);  // bsdtar -tvf
std::string bsdtarExtract(const std::string& archive, const std::string& member);

// Parses the archive in a file, all of it, offsets counted from the file start.
ParsedArchive parseArchiveFile(const std::string& path);

std::uint32_t bitwiseCrc32(const std::string& bytes);

}  // namespace vaultwick::testing
