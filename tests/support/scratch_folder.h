#pragma once

// A scratch folder removed at the end, and the bytes and modes of the files
// in it.

#include <string>

#include "platform/temp_folder.h"

namespace vaultwick::test {

// A new private folder in the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
 public:
  const std::string& path() const { return folder_.path(); }
  std::string File(const std::string& name) const { return folder_.FilePath(name); }

 private:
  PrivateTempFolder folder_ = PrivateTempFolder::Create("vw-test-").value();
};

// The file's bytes, or "<missing>".
std::string FileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Permission bits of a file or folder, or -1.
int ModeOf(const std::string& path);

}  // namespace vaultwick::test
