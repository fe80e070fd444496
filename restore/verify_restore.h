#pragma once

// The strongest proof that an archive restores: load it into a scratch
// database on the same server, dump that database again with the product's
// own dump, and compare the two dumps statement by statement. It doubles the
// server's work for a backup, so a connection asks for it by naming a scratch
// database.

#include <string>

#include "restore/restore_database.h"
#include "server/verify_restore_outcome.h"

namespace vaultwick {

// Restores `request.archivePath` into the scratch database
// `request.server.database` (made for it; one that exists and holds tables,
// routines or events is refused and left alone; `replace` is not looked at),
// dumps it, compares, and drops the scratch database again, also when
// `request.stop` cut the work short.
VerifyRestoreOutcome VerifyRestore(const RestoreRequest& request);

}  // namespace vaultwick
