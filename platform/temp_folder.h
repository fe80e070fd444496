#pragma once

// Private temporary folders: one per backup job, made inside the system's
// temporary folder with mode 0700 so that no other user can read a dump or
// plant a file or link where the job writes. The folder and everything in it
// is removed when its owner is done with it, on every way out; what a killed
// process left is removed by the next one (RemoveAbandoned).

#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

// The system's temporary folder: $TMPDIR when set and not empty, else /tmp.
// Never ends with '/' (unless it is "/").
std::string SystemTempFolder();

class PrivateTempFolder {
 public:
  static constexpr std::string_view kDefaultPrefix = "vaultwick-";

  // Makes a new folder "<SystemTempFolder()>/<prefix><pid>-XXXXXX" (mode
  // 0700). nullopt when it cannot be made; errno tells why.
  static std::optional<PrivateTempFolder> Create(std::string_view prefix = kDefaultPrefix);

  // Removes the folders of this kind (same prefix, this user) whose process
  // no longer exists: what a job killed or crashed half-way left behind.
  static void RemoveAbandoned(std::string_view prefix = kDefaultPrefix);

  PrivateTempFolder(PrivateTempFolder&& other) noexcept;
  PrivateTempFolder& operator=(PrivateTempFolder&& other) noexcept;
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  ~PrivateTempFolder();

  const std::string& path() const { return path_; }

  // The path of a file directly inside the folder.
  std::string FilePath(std::string_view name) const;

  // Removes the folder with everything in it now. True when it is gone.
  // Afterwards path() is empty and the destructor does nothing.
  bool Remove();

 private:
  explicit PrivateTempFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace vaultwick
