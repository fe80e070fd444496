#pragma once

// The passwords of a stored connection where they are kept (the store or the
// desktop keyring), given to each of its jobs as its test restore is.

#include "backup/backup_request.h"
#include "shell/connections.h"

namespace vaultwick {

// Gives `job` the archive password of `stored`, the stored connection of
// its name, when that connection encrypts its archives, unless
// it has one already. When the connection's passwords cannot be read
// (a locked keyring), the job is told why (BackupJob::passwordsUnavailable)
// and fails before it logs in, with that cause rather than a refused login.
// When only the archive password cannot be had (the store could not be read,
// or no password is set), it is told so (BackupJob::encryptionUnavailable)
// and fails: an archive that may have to be encrypted is never written in the
// clear.
void AddStoredSecrets(const StoredConnectionRead& stored, BackupJob& job);

// Whether AddStoredSecrets would look at the stored connection at all.
bool NeedsStoredSecrets(const BackupJob& job);

}  // namespace vaultwick
