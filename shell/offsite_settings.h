#pragma once

// The store-wide off-site remote: where every connection's new archives are
// also copied (through rclone, platform/rclone_remote.h), how it is kept, and
// its check.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/rclone_remote.h"
#include "platform/settings_store.h"

namespace vaultwick {

struct OffsiteSettings {
  // In rclone's notation, e.g. "backups:vault/db"; empty: no off-site copies.
  std::string remote;
  // rclone's configuration file; empty: rclone's own default.
  std::string configFile;

  bool IsSet() const { return !remote.empty(); }
  RcloneSettings Rclone() const { return {remote, configFile, "rclone"}; }
};

OffsiteSettings LoadOffsiteSettings(SettingsStore& store);

// Keeps `settings`, the configuration file made absolute (work may run from
// another folder). nullopt, and nothing kept, when a configuration file is
// named that does not exist: every copy would fail on it. An empty remote
// clears both.
std::optional<OffsiteSettings> SaveOffsiteSettings(SettingsStore& store, OffsiteSettings settings);

// The connections whose new archives are not encrypted, sorted as stored:
// with a remote set, their data leaves this machine readable.
std::vector<std::string> UnencryptedConnections(SettingsStore& store);

// The one-line warning about `names` ("Archives sent off-site unencrypted:
// a, b"); empty for none.
std::string UnencryptedWarning(const std::vector<std::string>& names);

// How long a check may take.
inline constexpr std::chrono::minutes kOffsiteCheckTimeLimit{2};

// Writes a small file at the top of the remote, lists it, reads it back and
// deletes it; a failure names the step and says what failed in rclone's
// words.
RemoteOutcome CheckOffsite(const OffsiteSettings& settings, StopToken stop = StopToken::Never());

}  // namespace vaultwick
