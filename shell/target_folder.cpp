#include "shell/target_folder.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace vaultwick {

std::optional<std::string> CheckTargetFolder(std::string_view folder) {
  if (folder.empty() || folder.size() > kMaxTargetFolderBytes ||
      folder.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(folder), error);
  if (error) {
    return std::nullopt;
  }
  // One attempt, as a single mkdir: it makes the last level only and fails
  // harmlessly when the folder is already there. Archives of databases go
  // there, so a new folder is private.
  ::mkdir(path.c_str(), 0700);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return std::nullopt;
  }
  std::string accepted = path.lexically_normal().string();
  while (accepted.size() > 1 && accepted.back() == '/') {
    accepted.pop_back();
  }
  if (accepted.size() > kMaxTargetFolderBytes) {
    return std::nullopt;
  }
  return accepted;
}

std::string LoadTargetFolder(SettingsStore& store) {
  return store.ReadText(settings::kSaveTo);
}

void SaveTargetFolder(SettingsStore& store, std::string_view folder) {
  store.WriteText(settings::kSaveTo, folder);
}

}  // namespace vaultwick
