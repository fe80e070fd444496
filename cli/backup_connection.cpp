#include "cli/backup_connection.h"

#include <cstdio>
#include <string>
#include <utility>

#include "shell/connections.h"
#include "shell/stored_backup.h"

namespace vaultwick {

std::optional<StoredBackup> PrepareStoredBackup(std::string_view name, std::string_view storePath) {
  StoredBackup backup;
  try {
    backup.store = SettingsStore::Open(ChooseSettingsStorePath(storePath));
    if (std::optional<StoredConnection> stored = ReadStoredConnection(*backup.store, name)) {
      backup.request =
          BackupRequestFor(stored->profile.name, stored->profile, std::move(stored->saveTo));
    }
  } catch (const SettingsStoreError& error) {
    std::fprintf(stderr, "vaultwick backup: %s\n", error.what());
    return std::nullopt;
  }
  if (!backup.request) {
    std::fprintf(stderr, "vaultwick backup: no connection named '%.*s' in %s\n",
                 static_cast<int>(name.size()), name.data(), backup.store->path().c_str());
    return std::nullopt;
  }
  return backup;
}

}  // namespace vaultwick
