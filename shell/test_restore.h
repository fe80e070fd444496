#pragma once

// The optional test restore of every new archive of a stored connection: the
// connection's stored scratch database, given to each of its jobs
// together with the restore that proves the archive in it.

#include <string>

#include "backup/backup_request.h"
#include "shell/connections.h"

namespace vaultwick {

// Gives `job` the test restore that `stored`, the stored connection of its
// name, asks for, unless it has one already. A connection
// that is not stored, or asks for none, gets none. When the store could not
// say, the job gets a test restore that fails with the store's error.
void AddStoredTestRestore(const StoredConnectionRead& stored, BackupJob& job);

// Whether AddStoredTestRestore would look at the stored connection at all.
bool NeedsStoredTestRestore(const BackupJob& job);

// The test restore a job runs once its archive is placed: the archive loaded
// into the job's scratch database on the job's server, dumped again and
// compared, and the scratch database dropped. A scratch database that is the
// database backed up is refused untouched.
VerifyRestoreOutcome RunTestRestore(const BackupJob& job, const StopToken& stop,
                                    const std::string& archivePath);

}  // namespace vaultwick
