#include "platform/temp_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace vaultwick {

std::string SystemTempFolder() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  std::string folder =
      (fromEnvironment != nullptr && fromEnvironment[0] != '\0') ? fromEnvironment : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  return folder;
}

std::optional<PrivateTempFolder> PrivateTempFolder::Create(std::string_view prefix) {
  std::string pattern = SystemTempFolder();
  if (pattern != "/") {
    pattern += '/';
  }
  pattern += ProcessOwnedPrefix(prefix);
  pattern += "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp makes the folder with mode 0700 whatever the umask, and fails
  // rather than reuse anything that already exists.
  if (mkdtemp(buffer.data()) == nullptr) {
    return std::nullopt;
  }
  return PrivateTempFolder(std::string(buffer.data()));
}

void PrivateTempFolder::RemoveAbandoned(std::string_view prefix) {
  vaultwick::RemoveAbandoned(SystemTempFolder(), prefix, EntryKind::Folder);
}

PrivateTempFolder::PrivateTempFolder(PrivateTempFolder&& other) noexcept
    : path_(std::exchange(other.path_, std::string())) {}

PrivateTempFolder& PrivateTempFolder::operator=(PrivateTempFolder&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, std::string());
  }
  return *this;
}

PrivateTempFolder::~PrivateTempFolder() {
  Remove();
}

std::string PrivateTempFolder::FilePath(std::string_view name) const {
  std::string result = path_;
  result += '/';
  result.append(name);
  return result;
}

bool PrivateTempFolder::Remove() {
  if (path_.empty()) {
    return true;
  }
  // remove_all does not follow symbolic links, so a link inside the folder
  // removes the link, never what it points to.
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  if (error) {
    return false;
  }
  path_.clear();
  return true;
}

}  // namespace vaultwick
