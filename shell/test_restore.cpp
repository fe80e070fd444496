#include "shell/test_restore.h"

#include "restore/verify_restore.h"
#include "shell/connections.h"

namespace vaultwick {

void AddStoredTestRestore(const StoredConnectionRead& stored, BackupRequest& request) {
  if (!request.verifyRestore.empty() || request.testRestore) {
    return;
  }
  if (!stored.error.empty()) {
    // The connection may well ask for one: a test restore that cannot be
    // known to be off is one that failed, not one that was never asked for.
    request.testRestore = [why = stored.error](const BackupRequest&, const std::string&) {
      return VerifyRestoreOutcome{VerifyRestoreOutcome::Result::Failed,
                                  "the test restore setting could not be read: " + why};
    };
    return;
  }
  if (stored.connection) {
    request.verifyRestore = stored.connection->verifyRestore;
  }
  if (!request.verifyRestore.empty()) {
    request.testRestore = RunTestRestore;
  }
}

VerifyRestoreOutcome RunTestRestore(const BackupRequest& request, const std::string& archivePath) {
  // Also the store refuses this, but the store is not the only way in.
  if (SameConnectionName(request.verifyRestore, request.server.database)) {
    return {VerifyRestoreOutcome::Result::Failed,
            "the scratch database " + request.verifyRestore + " is the database backed up"};
  }
  RestoreRequest restore;
  restore.archivePath = archivePath;
  restore.archivePassword = request.archivePassword;
  restore.server = request.server;
  restore.server.database = request.verifyRestore;
  restore.stop = request.stop;
  return VerifyRestore(restore);
}

}  // namespace vaultwick
