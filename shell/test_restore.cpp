#include "shell/test_restore.h"

#include "restore/verify_restore.h"
#include "shell/connections.h"

namespace vaultwick {

bool NeedsStoredTestRestore(const BackupJob& job) {
  return job.verifyRestore.empty() && !job.testRestore;
}

void AddStoredTestRestore(const StoredConnectionRead& stored, BackupJob& job) {
  if (!NeedsStoredTestRestore(job)) {
    return;
  }
  if (!stored.error.empty()) {
    // The connection may well ask for one: a test restore that cannot be
    // known to be off is one that failed, not one that was never asked for.
    job.testRestore = [why = stored.error](const BackupJob&, const StopToken&, const std::string&) {
      return VerifyRestoreOutcome{VerifyRestoreOutcome::Result::Failed,
                                  "the test restore setting could not be read: " + why};
    };
    return;
  }
  if (stored.connection) {
    job.verifyRestore = stored.connection->verifyRestore;
  }
  if (!job.verifyRestore.empty()) {
    job.testRestore = RunTestRestore;
  }
}

VerifyRestoreOutcome RunTestRestore(const BackupJob& job, const StopToken& stop,
                                    const std::string& archivePath) {
  // Also the store refuses this, but the store is not the only way in.
  if (SameConnectionName(job.verifyRestore, job.server.database)) {
    return {VerifyRestoreOutcome::Result::Failed,
            "the scratch database " + job.verifyRestore + " is the database backed up"};
  }
  RestoreRequest restore;
  restore.archivePath = archivePath;
  restore.archivePassword = job.archivePassword;
  restore.server = job.server;
  restore.server.database = job.verifyRestore;
  restore.stop = stop;
  return VerifyRestore(restore);
}

}  // namespace vaultwick
