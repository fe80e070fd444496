#include "cli/backup_connection.h"

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "shell/history.h"
#include "shell/scheduler.h"

namespace vaultwick {

void StoredBackup::RecordInHistory(BackupRequest& job) {
  static const SystemClock clock;
  vaultwick::RecordInHistory(job, *store, clock, JobOrigin::Command, [](const std::string& error) {
    std::fprintf(stderr, "not in the history: %s\n", error.c_str());
  });
}

std::optional<StoredBackup> PrepareStoredBackup(std::string_view name, std::string_view storePath) {
  StoredBackup backup;
  try {
    backup.store = SettingsStore::Open(ChooseSettingsStorePath(storePath));
    backup.request = RequestFromStore(*backup.store, std::string(name));
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
