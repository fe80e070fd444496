#pragma once

// The backup job: one database from a server to one archive in the target
// folder, on a worker thread of its own.
//
//   connect -> select database -> DumpDatabase into <private temp folder>/<name>.sql,
//   packed while it is written (ArchivePacker) into <private temp folder>/<name>.zip
//   -> read back and checked
//   (first: room for the archive in both folders, else the job ends here)
//   -> the <name>.zip it replaces becomes a restore point (restore_point_layout.h)
//   -> copy (write beside, sync, rename) to <saveTo>/<name>.zip
//   -> optionally a test restore of it (BackupJob::verifyRestore) -> remove the temp folder
//
// The job reports each step as a status text (only while its progress window
// is open), ends with one end text, and hands the request over as
// backup_request.h describes.

#include <atomic>
#include <thread>

#include "backup/backup_request.h"

namespace vaultwick {

// Jobs under way in this process. A job adds itself first and removes itself
// last, on every way out; the tests read it to see that every way out counts
// the job out (the exit prompt asks the job runner, which owns the threads).
extern std::atomic<int> runningJobs;

// The worker thread procedure. Takes ownership of `request`; the request's
// progressWindow must already be stored (or known to stay null). Runs the
// whole job on the calling thread and ends the client library's state for
// that thread, so a thread that runs it should end soon after.
void RunBackupJob(BackupRequest* request);

// Starts RunBackupJob on a new thread, which the caller must join (a process
// that ends while a job thread is still ending loses that thread's cleanup).
// The thread is not joinable when none could be started; the caller then
// still owns the request.
[[nodiscard]] std::thread StartBackupJob(BackupRequest* request);

// The job's fixed texts (and the server's kTextCantConnect).
inline constexpr const char* kTextConnecting = "Connecting...";
inline constexpr const char* kTextGettingTables = "Getting table list";
inline constexpr const char* kTextZipping = "Zipping file";
inline constexpr const char* kTextTestRestorePrefix = "Test restore into ";
inline constexpr const char* kTextComplete = "Backup complete";
inline constexpr const char* kTextCompleteWithErrors = "Backup complete with errors";
inline constexpr const char* kTextInvalidName = "Invalid connection name";
inline constexpr const char* kTextNoTempFolder = "Could not create temporary folder";
inline constexpr const char* kTextCantSelectPrefix = "Can't select database ";
inline constexpr const char* kTextErrorOccured = "Error occured";
inline constexpr const char* kTextDumpWriteFailed = "Could not write dump file";
inline constexpr const char* kTextArchiveFailed = "Could not create archive";
inline constexpr const char* kTextCopyFailed = "Could not copy file to target directory";
inline constexpr const char* kTextNoRoom = "Not enough room for the archive";

}  // namespace vaultwick
