#pragma once

// The backup request of a stored connection, made the same way for the
// scheduler and for `vaultwick backup --connection`, and what its stored
// connection adds to every job the job runner starts, whatever started it.

#include <memory>
#include <string>

#include "backup/backup_request.h"
#include "shell/connections.h"

namespace vaultwick {

// The job takes `name` as its starter gave it, the rest from `profile`; the
// archive goes to `saveTo` (empty: the copy fails, as no folder was saved).
std::unique_ptr<BackupRequest> BackupRequestFor(const std::string& name,
                                                const ConnectionProfile& profile,
                                                std::string saveTo);

// Gives `job` the passwords (AddStoredSecrets) and the test restore
// (AddStoredTestRestore) of the stored connection of its name, from one read
// of the store; no read when it has both already.
void AddStoredSettings(SettingsStore& store, BackupJob& job);

}  // namespace vaultwick
