#pragma once

// `vaultwick backup --connection NAME [--store FILE]`: the backup of a stored
// connection, recorded in the history like every other job.

#include <memory>
#include <optional>
#include <string_view>

#include "backup/backup_request.h"
#include "cli/command_support.h"
#include "platform/settings_store.h"

namespace vaultwick {

struct StoredBackup {
  std::unique_ptr<SettingsStore> store;    // where the job's history row goes
  std::unique_ptr<BackupRequest> request;  // filled from the store, target folder included
};

// Opens the store (`storePath`, else VAULTWICK_STORE, else the default) and
// fills a request for the connection `name`. nullopt, after writing why to
// io.err, when the store or the connection cannot be read.
std::optional<StoredBackup> PrepareStoredBackup(std::string_view name, std::string_view storePath,
                                                const CommandIo& io);

}  // namespace vaultwick
