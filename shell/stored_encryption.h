#pragma once

// The archive encryption of a stored connection, given to each of its backup
// requests as its test restore is.

#include "backup/backup_request.h"
#include "platform/settings_store.h"

namespace vaultwick {

// Gives the job of `request` the archive password of the stored connection of
// its name when that connection encrypts its archives, unless the request has
// one already. When the store or the keyring cannot give the password, the
// job is told why (BackupRequest::encryptionUnavailable) and fails: an
// archive that may have to be encrypted is never written in the clear.
void AddStoredEncryption(SettingsStore& store, BackupRequest& request);

}  // namespace vaultwick
