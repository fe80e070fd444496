#include "shell/stored_secrets.h"

#include <optional>
#include <string>

#include "shell/connections.h"

namespace vaultwick {

void AddStoredSecrets(SettingsStore& store, BackupRequest& request) {
  if (!request.archivePassword.empty()) {
    return;
  }
  std::optional<StoredConnection> stored;
  try {
    stored = ReadStoredConnection(store, request.name);
  } catch (const SettingsStoreError& error) {
    request.encryptionUnavailable =
        std::string("the archive encryption setting could not be read: ") + error.what();
    return;
  }
  if (!stored) {
    return;
  }
  if (!stored->passwordsUnavailable.empty()) {
    request.passwordsUnavailable = stored->passwordsUnavailable;
    return;
  }
  if (!stored->encryptArchives) {
    return;
  }
  if (stored->archivePassword.empty()) {
    request.encryptionUnavailable = "the archives are to be encrypted, but no password is set";
  } else {
    request.archivePassword = stored->archivePassword;
  }
}

}  // namespace vaultwick
