#pragma once

// The one target folder all connections share: kept in the settings store as
// SaveTo, and checked before it is accepted.

#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace vaultwick {

inline constexpr const char* kTextTargetFolderMissing =
    "Target directory does not exist and could not be created";

// Longest target folder text accepted, in bytes.
inline constexpr std::size_t kMaxTargetFolderBytes = 998;

// The folder check: makes the last level of `folder` when it is missing
// (never the levels above it), then accepts it when it exists as a folder.
// Returns the accepted folder as an absolute path (a relative one is taken
// from the current folder), or nullopt: then the caller shows
// kTextTargetFolderMissing and keeps the previous value. Empty text is refused.
std::optional<std::string> CheckTargetFolder(std::string_view folder);

// SaveTo: empty when none was ever saved.
std::string LoadTargetFolder(SettingsStore& store);
void SaveTargetFolder(SettingsStore& store, std::string_view folder);

}  // namespace vaultwick
