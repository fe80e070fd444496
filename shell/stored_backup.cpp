#include "shell/stored_backup.h"

#include <utility>

#include "shell/stored_secrets.h"
#include "shell/test_restore.h"

namespace vaultwick {

std::unique_ptr<BackupRequest> BackupRequestFor(const std::string& name,
                                                const ConnectionProfile& profile,
                                                std::string saveTo) {
  auto request = std::make_unique<BackupRequest>();
  request->name = name;
  request->server = profile.server;
  request->saveTo = std::move(saveTo);
  return request;
}

void AddStoredSettings(SettingsStore& store, BackupRequest& request) {
  const bool hasTestRestore = !request.verifyRestore.empty() || request.testRestore;
  if (!request.archivePassword.empty() && hasTestRestore) {
    return;
  }
  const StoredConnectionRead stored = TryReadStoredConnection(store, request.name);
  AddStoredSecrets(stored, request);
  AddStoredTestRestore(stored, request);
}

}  // namespace vaultwick
