#include "cli/backup_connection.h"

#include <cstdio>
#include <string>
#include <utility>

#include "shell/connections.h"
#include "shell/stored_backup.h"

namespace vaultwick {

std::optional<StoredBackup> PrepareStoredBackup(std::string_view name, std::string_view storePath,
                                                const CommandIo& io) {
  StoredBackup backup;
  try {
    backup.store = OpenUserSettingsStore(storePath);
    if (std::optional<StoredConnection> stored = ReadStoredConnection(*backup.store, name)) {
      backup.request =
          BackupRequestFor(stored->profile.name, stored->profile, std::move(stored->saveTo));
    }
  } catch (const SettingsStoreError& error) {
    PrintError(io, "backup", error.what());
    return std::nullopt;
  }
  if (!backup.request) {
    PrintError(io, "backup",
               "no connection named '" + std::string(name) + "' in " + backup.store->path());
    return std::nullopt;
  }
  return backup;
}

}  // namespace vaultwick
