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
// routines or events is refused and left alone, and so is one that another
// test restore is using or the login may not drop; `replace` is not looked
// at), dumps it, compares, and drops the scratch database again, also when
// `request.stop` cut the work short. A scratch database that cannot be
// dropped fails the test restore, whatever it found, and says where the
// copy stays.
VerifyRestoreOutcome VerifyRestore(const RestoreRequest& request);

}  // namespace vaultwick
