#include "shell/stored_secrets.h"

#include <string>

namespace vaultwick {

bool NeedsStoredSecrets(const BackupJob& job) {
  return job.archivePassword.empty();
}

void AddStoredSecrets(const StoredConnectionRead& stored, BackupJob& job) {
  if (!NeedsStoredSecrets(job)) {
    return;
  }
  if (!stored.error.empty()) {
    job.encryptionUnavailable = "the archive encryption setting could not be read: " + stored.error;
    return;
  }
  if (!stored.connection) {
    return;
  }
  if (!stored.connection->passwordsUnavailable.empty()) {
    job.passwordsUnavailable = stored.connection->passwordsUnavailable;
    return;
  }
  if (!stored.connection->encryptArchives) {
    return;
  }
  if (stored.connection->archivePassword.empty()) {
    job.encryptionUnavailable = "the archives are to be encrypted, but no password is set";
  } else {
    job.archivePassword = stored.connection->archivePassword;
  }
}

}  // namespace vaultwick
