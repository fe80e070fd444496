#include "shell/stored_secrets.h"

#include <string>

namespace vaultwick {

void AddStoredSecrets(const StoredConnectionRead& stored, BackupRequest& request) {
  if (!request.archivePassword.empty()) {
    return;
  }
  if (!stored.error.empty()) {
    request.encryptionUnavailable =
        "the archive encryption setting could not be read: " + stored.error;
    return;
  }
  if (!stored.connection) {
    return;
  }
  if (!stored.connection->passwordsUnavailable.empty()) {
    request.passwordsUnavailable = stored.connection->passwordsUnavailable;
    return;
  }
  if (!stored.connection->encryptArchives) {
    return;
  }
  if (stored.connection->archivePassword.empty()) {
    request.encryptionUnavailable = "the archives are to be encrypted, but no password is set";
  } else {
    request.archivePassword = stored.connection->archivePassword;
  }
}

}  // namespace vaultwick
