#pragma once

// What the shell's tests share: a scratch folder removed at the end, and a
// store file in it.

#include <memory>
#include <string>

#include "platform/settings_store.h"

namespace vaultwick::test {

// A new private folder in the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The file's bytes, or "<missing>".
std::string FileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Permission bits of a file or folder, or -1.
int ModeOf(const std::string& path);

}  // namespace vaultwick::test
