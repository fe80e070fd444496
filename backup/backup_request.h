#pragma once

// What one backup job is given (BackupRequest), what it gives back
// (BackupOutcome), and the hand-over of the request between the job's worker
// and its progress window: each side sets its own flag and reads the other's
// under one lock, so that exactly one of them frees the request.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "backup/job_ports.h"

namespace vaultwick {

// How a job ended. Several ways out share an end text (the two "Error occured"
// ones), so callers decide on this, not on the text.
enum class BackupResult {
  Complete,            // "Backup complete"
  CompleteWithErrors,  // "Backup complete with errors": some table's data could not be read
  InvalidName,         // "Invalid connection name"
  NoTempFolder,        // "Could not create temporary folder"
  ConnectFailed,       // "Can't connect to MySQL server"
  SelectFailed,        // "Can't select database " + database
  Cancelled,           // "Error occured": the progress window was closed during the rows
  ErrorOccurred,       // "Error occured": any other exception
  DumpWriteFailed,     // "Could not write dump file"
  ArchiveFailed,       // "Could not create archive"
  CopyFailed,          // "Could not copy file to target directory"
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
};

// Seams for tests: called on the worker thread at fixed points of a job.
struct BackupTestHooks {
  // The dump file is complete and was written without error; the archive at
  // archivePath is made next.
  std::function<void(const std::string& dumpPath, const std::string& archivePath)> afterDump;
  // The temporary archive is made; the copy into the target folder is next.
  std::function<void(const std::string& archivePath)> beforeCopy;
};

// One job. Created by its starter with the six strings filled in; from the
// moment the worker starts it belongs to the job and is freed by exactly one
// thread (see the hand-over below). Virtual so that tests can count frees.
class BackupRequest {
 public:
  virtual ~BackupRequest() = default;

  std::string name;  // connection name; stem of every file the job makes
  std::string host;  // "host", "host:port" or "[v6-address]:port"
  std::string login;
  std::string password;
  std::string database;
  std::string saveTo;  // target folder; the archive becomes saveTo + "/" + name + ".zip"

  // Set to 1 by the progress-window side when its window closes. Written under
  // handOverLock; the worker's other reads (status texts, cancel test) are
  // plain atomic reads.
  std::atomic<int> windowClosed{0};
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

  // Set by whoever wants the job to stop at its next step (a signal, the job
  // runner at shutdown, the desktop program's exit). Shared, so that the
  // setter may keep it after the request has been handed over and freed.
  std::shared_ptr<std::atomic<bool>> stopRequested = std::make_shared<std::atomic<bool>>(false);
};

// A name that can stem file names: not empty, not "." or "..", without '/'
// or NUL. Anything else could make the job write outside its folders.
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
