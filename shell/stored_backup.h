#pragma once

// The backup request of a stored connection, made the same way for the
// scheduler and for `vaultwick backup --connection`. Its test restore is the
// job runner's to add, as for every job it starts.

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

}  // namespace vaultwick
