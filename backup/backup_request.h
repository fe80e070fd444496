#pragma once

// What one backup job is asked (BackupJob), the request that carries it
// with the job's stop and ports (BackupRequest), what it gives back
// (BackupOutcome), and the hand-over of the request between the job's worker
// and its progress window: each side sets its own flag and reads the other's
// under one lock, so that exactly one of them frees the request.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/job_ports.h"
#include "common/server_login.h"
#include "common/stop_token.h"
#include "server/verify_restore_outcome.h"

namespace vaultwick {

// How a job ended. Several ways out share an end text (the "Error occured"
// ones), so callers decide on this, not on the text. Only Complete and
// CompleteWithErrors place an archive; every other way out leaves the target
// folder as it was.
enum class BackupResult {
  Complete,  // "Backup complete"
  // "Backup complete with errors": the archive is placed, but the dump could
  // not write everything in full (BackupOutcome::failedTables names what).
  CompleteWithErrors,
  InvalidName,      // "Invalid connection name"
  NoTempFolder,     // "Could not create temporary folder"
  ConnectFailed,    // "Can't connect to MySQL server"
  SelectFailed,     // "Can't select database " + database
  Cancelled,        // "Error occured": the progress window was closed during the rows
  ErrorOccurred,    // "Error occured": any other exception
  DumpWriteFailed,  // "Could not write dump file"
  ArchiveFailed,    // "Could not create archive"
  CopyFailed,       // "Could not copy file to target directory"
  // "Error occured": the connection was lost (server gone, connection cut,
  // read timeout) or the table list could not be read, so the dump is not
  // whole and must not replace the last archive.
  ServerLost,
  // "Error occured": the job's stop was asked for before the archive was
  // placed. The job stopped at its next step (see BackupRequest::stop).
  Stopped,
  // "Not enough room for the archive": the target or the temporary folder
  // had less room than the archive is expected to take, so the job ended
  // before its dump; the cause names the folder and both figures.
  NoRoom,
};

struct BackupOutcome {
  BackupResult result = BackupResult::ErrorOccurred;
  std::string endText;
  // What lies behind the end text, where known: the server's error text, the
  // archive writer's result text, or the errno text of a file step. Empty for
  // a clean backup.
  std::string cause;
  std::uint64_t archiveSize = 0;  // bytes of the archive placed in the target folder, else 0
  std::uint64_t rowsWritten = 0;  // INSERT statements in the dump
  // What the dump could not write in full (CompleteWithErrors), in dump
  // order; see DumpOutcome::failedTables.
  std::vector<std::string> failedTables;
  // The archive the job made was read back and found as written (every
  // archive is, before it may replace the last good one).
  bool archiveChecked = false;
  // The test restore, when one was asked for and an archive was placed. It
  // never changes the result: the archive stays placed whatever it finds.
  std::optional<VerifyRestoreOutcome> verifyRestore;
};

// Seams for tests: called on the worker thread at fixed points of a job.
struct BackupTestHooks {
  // The dump file is complete and was written without error; the archive at
  // archivePath is made next.
  std::function<void(const std::string& dumpPath, const std::string& archivePath)> afterDump;
  // The temporary archive is made; it is read back and checked, then copied
  // into the target folder.
  std::function<void(const std::string& archivePath)> beforeCopy;
  // Places the archive unread: only for measuring what the check costs.
  bool skipArchiveCheck = false;
};

// Runs a test restore of the archive at `archivePath` for `job` (see
// BackupJob::verifyRestore), on the job's thread, watching `stop`.
struct BackupJob;
using TestRestoreFn = std::function<VerifyRestoreOutcome(
    const BackupJob& job, const StopToken& stop, const std::string& archivePath)>;

// What one job is asked: which database, from which server, into which
// folder, and how the archive is made and proven. A plain value: its starter
// fills it, the shell adds what the stored connection keeps, and the job
// takes a copy as it starts.
struct BackupJob {
  std::string name;    // connection name; stem of every file the job makes
  ServerLogin server;  // the database backed up is server.database
  std::string saveTo;  // target folder; the archive becomes saveTo + "/" + name + ".zip"
  // Encrypts the archive (AES-256) under this password when not empty; the
  // read-back check and the test restore then read it with it.
  std::string archivePassword;
  // Why the archive is to be encrypted but cannot be (its password could not
  // be read): the job then fails before it connects, rather than write the
  // dump unencrypted.
  std::string encryptionUnavailable;
  // Why the connection's passwords could not be read where they are kept (a
  // locked desktop keyring): the job fails before it connects, with this as
  // its cause, rather than log in without its password.
  std::string passwordsUnavailable;

  // The scratch database of a test restore once the archive is placed: it is
  // loaded there, dumped again and compared with the archived dump. Empty:
  // none (the default; it doubles the job's load on the server). The job
  // knows no restore, so whoever asks for one also says how it is done
  // (the shell, from the connection's stored setting); a test restore given
  // without a scratch database runs too (it says why it cannot be made).
  std::string verifyRestore;
  TestRestoreFn testRestore;
};

// One job as it runs: what it is asked (`job`), its stop, and how it reports
// (ports, the outcome callback, test hooks) and is handed over. Created by
// its starter; from the moment the worker starts it belongs to the job and is
// freed by exactly one thread (see the hand-over below). Virtual so that
// tests can count frees.
class BackupRequest {
 public:
  virtual ~BackupRequest() = default;

  BackupJob job;

  // Stopped by the progress-window side when its window closes: under
  // handOverLock for the hand-over; the worker's other looks (status texts,
  // the rows' cancel) need no lock. Closing the window cancels only the
  // reading of rows, so this is not the job's stop.
  StopToken windowClosed;
  // Set to 1 by the worker when the job has ended; guarded by handOverLock.
  int jobFinished = 0;
  // The job's progress window; null when it has none. Stored by the window's
  // side before the worker starts (or never, when no window could be made),
  // and not changed afterwards. The worker keeps its own reference, so a text
  // it sets just after the window closed reaches a live (closed) object.
  std::shared_ptr<StatusTextPort> progressWindow;

  // Also receives every status text and the end text, window or not
  // (`vaultwick backup` prints them). Optional.
  std::shared_ptr<StatusTextPort> statusEcho;
  // Where the copy-failure message goes. Optional.
  std::shared_ptr<MessageBoxPort> messageBox;
  // Called once on the worker thread as the job's very last act, after the
  // request was handed over and runningJobs counted down. Optional.
  std::function<void(const BackupOutcome&)> onOutcome;
  BackupTestHooks testHooks;

  std::mutex handOverLock;

  // Stopped by whoever wants the job to stop (a signal, the job runner at
  // shutdown, the desktop program's exit); a copy kept by the one who asks
  // stays valid after the request has been handed over and freed.
  // The job looks at it at every step: while it connects (at least every
  // 100 ms, also when the server does not answer), at every data row, while a
  // query waits for the server (the connection is cut), after the archive is
  // made and while it copies. A job that sees it before its archive is placed
  // removes its temporary folder, leaves the target folder as it was and ends
  // Stopped with the end text "Error occured" (shown like every end text, in
  // an open progress window) and the cause kTextStoppedOnRequest. Once the
  // archive is placed the job is complete and ends as such.
  StopToken stop;
};

// A name that can stem file names: not empty, not "." or "..", without '/',
// backslash or control characters (NUL, line feed, ...), and short enough that
// "<name>.zip" and "<name>.sql" fit in one file name (NAME_MAX bytes).
// Anything else could make the job write outside its folders, fail only after
// all its work, or name a file that breaks lists and logs one name a line.
// Stored names follow the same rule.
bool IsValidConnectionName(std::string_view name);

// Worker side of the hand-over: sets jobFinished and returns whether the
// window had already closed, as one step under handOverLock.
bool MarkJobFinished(BackupRequest& request);

// Window side of the hand-over: sets windowClosed and returns whether the job
// had already finished, as one step under handOverLock.
bool MarkWindowClosed(BackupRequest& request);

// What a progress window does once its message loop has ended: marks the
// window closed and frees the request when the job has already finished (the
// worker then has left it to the window). Returns true when it freed it. The
// caller must not touch the request afterwards.
bool CloseProgressWindow(BackupRequest* request);

}  // namespace vaultwick
