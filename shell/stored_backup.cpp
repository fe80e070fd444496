#include "shell/stored_backup.h"

#include <utility>

#include "shell/stored_secrets.h"
#include "shell/test_restore.h"

namespace vaultwick {

std::unique_ptr<BackupRequest> BackupRequestFor(const std::string& name,
                                                const ConnectionProfile& profile,
                                                std::string saveTo) {
  auto request = std::make_unique<BackupRequest>();
  request->job.name = name;
  request->job.server = profile.server;
  request->job.saveTo = std::move(saveTo);
  return request;
}

void AddStoredSettings(SettingsStore& store, BackupJob& job) {
  if (!NeedsStoredSecrets(job) && !NeedsStoredTestRestore(job)) {
    return;
  }
  const StoredConnectionRead stored = TryReadStoredConnection(store, job.name);
  AddStoredSecrets(stored, job);
  AddStoredTestRestore(stored, job);
}

}  // namespace vaultwick
