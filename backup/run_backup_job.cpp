#include "backup/run_backup_job.h"

#include <mysql.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "backup/archive_packer.h"
#include "backup/dump_database.h"
#include "backup/restore_point_layout.h"
#include "platform/files.h"
#include "platform/free_room.h"
#include "platform/part_file.h"
#include "platform/temp_folder.h"
#include "readback/followed_archive_check.h"
#include "server/server_connection.h"
#include "server/server_query.h"
#include "zip/zip_result.h"

namespace vaultwick {

std::atomic<int> runningJobs{0};

namespace {

// The job's folder is its own, so its archive needs no part of the name: a
// short fixed one leaves room for the packer's ".part" whatever the name's
// length. The dump keeps "<name>.sql", which its member is named after (and
// which the name rule lets fit).
constexpr const char* kArchiveFileName = "archive.zip";

BackupOutcome Ended(BackupResult result, std::string endText, std::string cause = {}) {
  BackupOutcome outcome;
  outcome.result = result;
  outcome.endText = std::move(endText);
  outcome.cause = std::move(cause);
  return outcome;
}

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

BackupOutcome StoppedOutcome() {
  return Ended(BackupResult::Stopped, kTextErrorOccured, kTextStoppedOnRequest);
}

bool ArchivePlaced(BackupResult result) {
  return result == BackupResult::Complete || result == BackupResult::CompleteWithErrors;
}

// "Not dumped in full: `a`, `b` (<first error>)" for what the dump could not
// write in full (tables, other objects, kinds of objects it could not list),
// or the dump's first error alone.
std::string NotDumpedInFullCause(const DumpOutcome& dump) {
  if (dump.failedTables.empty()) {
    return dump.cause;
  }
  std::string cause = "Not dumped in full: ";
  for (std::size_t i = 0; i < dump.failedTables.size(); ++i) {
    cause += (i == 0 ? "`" : ", `") + dump.failedTables[i] + "`";
  }
  if (!dump.cause.empty()) {
    cause += " (" + dump.cause + ")";
  }
  return cause;
}

// Why the target folder or the job's own folder cannot take the archive the
// job expects to make (the last one's size with a margin, else the tables'
// data length); empty when both can, or when it cannot be told.
std::string ArchiveRoomShortage(MYSQL* connection, const std::string& saveTo,
                                const std::string& name, const std::string& jobFolder) {
  std::optional<std::uint64_t> lastArchive;
  std::vector<std::string> folders = {jobFolder};
  if (!saveTo.empty()) {
    lastArchive = FileSize(CurrentArchivePath(saveTo, name));
    folders.insert(folders.begin(), saveTo);
  }
  std::uint64_t dataLength = 0;
  if (!lastArchive) {
    const std::optional<std::string> sum = QueryValue(
        connection,
        "SELECT SUM(DATA_LENGTH) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()");
    dataLength = sum ? std::strtoull(sum->c_str(), nullptr, 10) : 0;
  }
  return RoomShortage(folders, ExpectedArchiveBytes(lastArchive, dataLength));
}

class JobRun {
 public:
  // Takes what the job keeps for itself out of the request at its start: what
  // it is asked, the window (the job's "status control") and the ports, so
  // that nothing of them needs the request after the hand-over.
  explicit JobRun(BackupRequest* request)
      : request_(request),
        asked_(request->job),
        window_(request->progressWindow),
        echo_(request->statusEcho),
        messageBox_(request->messageBox),
        onOutcome_(std::move(request->onOutcome)),
        hooks_(request->testHooks),
        stop_(request->stop),
        windowClosed_(request->windowClosed) {}

  void Run() {
    BackupOutcome outcome = Execute();
    // The client library keeps state per thread (its TLS library's too) that
    // only this releases; the job's thread ends soon after the job.
    mysql_thread_end();
    Finish(outcome);
  }

 private:
  bool WindowClosed() const { return windowClosed_.StopRequested(); }
  bool StopRequested() const { return stop_.StopRequested(); }

  void Show(const std::string& text) {
    if (window_ && !WindowClosed()) {
      window_->SetStatusText(text);
    }
    if (echo_) {
      echo_->SetStatusText(text);
    }
  }

  // Every exception ends here; unwinding has closed the connection and
  // removed the job's folder by then. A stop that came before the archive was
  // placed decides the outcome, whatever failure it caused on its way (a cut
  // connection, a cancelled copy).
  BackupOutcome Execute() {
    BackupOutcome outcome;
    try {
      outcome = Steps();
    } catch (const std::exception& error) {
      outcome = Ended(BackupResult::ErrorOccurred, kTextErrorOccured, error.what());
    } catch (...) {
      outcome = Ended(BackupResult::ErrorOccurred, kTextErrorOccured);
    }
    if (StopRequested() && !ArchivePlaced(outcome.result)) {
      BackupOutcome stopped = StoppedOutcome();
      stopped.rowsWritten = outcome.rowsWritten;
      return stopped;
    }
    return outcome;
  }

  BackupOutcome Steps() {
    if (!IsValidConnectionName(asked_.name)) {
      return Ended(BackupResult::InvalidName, kTextInvalidName);
    }
    if (StopRequested()) {
      return StoppedOutcome();
    }
    if (!asked_.passwordsUnavailable.empty()) {
      return Ended(BackupResult::ConnectFailed, kTextCantConnect, asked_.passwordsUnavailable);
    }
    if (!asked_.encryptionUnavailable.empty()) {
      return Ended(BackupResult::ArchiveFailed, kTextArchiveFailed, asked_.encryptionUnavailable);
    }
    const std::string name = asked_.name;
    const ServerLogin server = asked_.server;
    const std::string saveTo = asked_.saveTo;

    // What jobs of processes that were killed half-way left behind.
    PrivateTempFolder::RemoveAbandoned();
    if (!saveTo.empty()) {
      RemoveAbandonedPartFiles(saveTo);
    }
    // Every file of the job lives in a folder made for it alone; leaving this
    // function by any way removes the folder with whatever is in it.
    std::optional<PrivateTempFolder> folder = PrivateTempFolder::Create();
    if (!folder) {
      return Ended(BackupResult::NoTempFolder, kTextNoTempFolder, ErrnoText(errno));
    }
    const std::string dumpPath = folder->FilePath(name + ".sql");

    Show(kTextConnecting);
    ServerConnection connection(stop_);
    switch (connection.Open(server)) {
      case ServerConnection::Opened::Connected:
        break;
      case ServerConnection::Opened::Stopped:
        return StoppedOutcome();
      case ServerConnection::Opened::BadAddress:
      case ServerConnection::Opened::Refused:
        return Ended(BackupResult::ConnectFailed, kTextCantConnect, connection.Error());
    }
    if (mysql_select_db(connection.get(), server.database.c_str()) != 0) {
      return Ended(BackupResult::SelectFailed, kTextCantSelectPrefix + server.database,
                   connection.Error());
    }

    if (std::string shortage = ArchiveRoomShortage(connection.get(), saveTo, name, folder->path());
        !shortage.empty()) {
      return Ended(BackupResult::NoRoom, kTextNoRoom, std::move(shortage));
    }

    Show(kTextGettingTables);
    const std::string archivePath = folder->FilePath(kArchiveFileName);
    ArchivePacker packer(dumpPath, archivePath, stop_,
                         std::max(1u, std::thread::hardware_concurrency()), asked_.archivePassword);
    // The archive is read back as it is written, before it may be placed.
    std::optional<FollowedArchiveCheck> check;
    if (!hooks_.skipArchiveCheck) {
      check.emplace(packer.PartPath(), asked_.archivePassword, stop_);
    }
    // Closing the window cancels the reading of rows, and only that.
    DumpOutcome dump = DumpDatabase(
        connection.get(), dumpPath.c_str(), [this](const char* text) { Show(text); },
        stop_.Or(windowClosed_));
    connection.Close();
    if (StopRequested()) {
      return StoppedOutcome();
    }
    if (dump.stopped) {
      return Ended(BackupResult::Cancelled, kTextErrorOccured);
    }
    if (dump.writeFailed) {
      BackupOutcome outcome =
          Ended(BackupResult::DumpWriteFailed, kTextDumpWriteFailed, dump.cause);
      outcome.rowsWritten = dump.rowsWritten;
      return outcome;
    }
    if (dump.serverLost) {
      BackupOutcome outcome = Ended(BackupResult::ServerLost, kTextErrorOccured, dump.cause);
      outcome.rowsWritten = dump.rowsWritten;
      return outcome;
    }
    if (hooks_.afterDump) {
      hooks_.afterDump(dumpPath, archivePath);
    }

    Show(kTextZipping);
    ZipMemberSummary written;
    const ZipResult zipped = packer.Finish(&written);
    std::string zipFailure = zipResultMessage(zipped);
    // A full temporary folder, named with the system's reason as a full
    // target folder is.
    if (const int error = zipped == ZipResult::WriteFailed ? packer.WriteError() : 0; error != 0) {
      zipFailure += " in " + folder->path() + ": " + ErrnoText(error);
    }
    BackupOutcome outcome =
        PlaceArchive(zipped, zipFailure, written, archivePath, saveTo, check ? &*check : nullptr);
    outcome.rowsWritten = dump.rowsWritten;
    if (ArchivePlaced(outcome.result) && (!asked_.verifyRestore.empty() || asked_.testRestore)) {
      outcome.verifyRestore = TestRestore(archivePath);
    }
    if (outcome.result == BackupResult::Complete && dump.failedQueries > 0) {
      outcome.result = BackupResult::CompleteWithErrors;
      outcome.endText = kTextCompleteWithErrors;
      outcome.cause = NotDumpedInFullCause(dump);
      outcome.failedTables = dump.failedTables;
    }
    return outcome;
  }

  // Checks the packed dump's archive (with `check`; none: unchecked) and
  // puts it into the target folder.
  BackupOutcome PlaceArchive(ZipResult zipped, const std::string& zipFailure,
                             const ZipMemberSummary& written, const std::string& archivePath,
                             const std::string& saveTo, FollowedArchiveCheck* check) {
    if (StopRequested()) {
      return StoppedOutcome();
    }
    if (zipped != ZipResult::Ok) {
      return Ended(BackupResult::ArchiveFailed, kTextArchiveFailed, zipFailure);
    }
    if (hooks_.beforeCopy) {
      hooks_.beforeCopy(archivePath);
    }
    // Proven before it replaces the last good one: read back, inflated whole
    // and compared with what the writer read from the dump.
    std::string difference = check != nullptr ? check->Finish(archivePath, written) : "";
    if (StopRequested()) {
      return StoppedOutcome();
    }
    if (!difference.empty()) {
      return Ended(BackupResult::ArchiveFailed, kTextArchiveFailed, std::move(difference));
    }
    // The separator goes in even when saveTo ends with one. An empty saveTo
    // would put the archive into the root folder, so it counts as a failed copy.
    const std::string finalPath = CurrentArchivePath(saveTo, asked_.name);
    // The archive about to be replaced becomes a restore point first; one
    // that cannot be kept is not replaced either.
    KeptArchive kept;
    const int keepError = saveTo.empty() ? 0 : KeepReplacedArchive(saveTo, asked_.name, &kept);
    int copyError = saveTo.empty()   ? ENOENT
                    : keepError != 0 ? keepError
                                     : CopyFileReplacing(archivePath, finalPath, stop_);
    if (copyError != 0) {
      UndoKeepReplacedArchive(saveTo, asked_.name, kept);
    }
    if (copyError == ECANCELED) {
      return StoppedOutcome();
    }
    BackupOutcome outcome = Ended(BackupResult::Complete, kTextComplete);
    if (copyError != 0) {
      if (messageBox_) {
        messageBox_->ShowError(kTextCopyFailed);
      }
      std::string cause = ErrnoText(copyError);
      if (keepError != 0) {
        cause = "the archive it replaces could not be kept in " +
                RestorePointFolder(saveTo, asked_.name) + ": " + cause;
      }
      outcome = Ended(BackupResult::CopyFailed, kTextCopyFailed, std::move(cause));
    } else {
      outcome.archiveSize = FileSize(archivePath).value_or(0);
    }
    outcome.archiveChecked = true;
    return outcome;
  }

  // The placed archive's test restore. Its copy in the job's folder is the
  // same file, and stays the job's own while the restore reads it.
  VerifyRestoreOutcome TestRestore(const std::string& archivePath) {
    Show(kTextTestRestorePrefix + asked_.verifyRestore);
    if (!asked_.testRestore) {
      return {VerifyRestoreOutcome::Result::Failed, "no test restore at hand"};
    }
    try {
      return asked_.testRestore(asked_, stop_, archivePath);
    } catch (const std::exception& error) {
      return {VerifyRestoreOutcome::Result::Failed, error.what()};
    }
  }

  // The same on every way out: hand the request over, show the end text if
  // the window is still open, count the job out, report the outcome.
  void Finish(const BackupOutcome& outcome) {
    if (echo_) {
      echo_->SetStatusText(outcome.endText);
    }
    bool windowWasClosed = MarkJobFinished(*request_);
    if (!window_ || windowWasClosed) {
      delete request_;
    } else {
      // The window now owns the request; only the window object is used.
      window_->SetStatusText(outcome.endText);
    }
    request_ = nullptr;
    runningJobs.fetch_sub(1);
    if (onOutcome_) {
      onOutcome_(outcome);
    }
  }

  BackupRequest* request_;
  const BackupJob asked_;
  std::shared_ptr<StatusTextPort> window_;
  std::shared_ptr<StatusTextPort> echo_;
  std::shared_ptr<MessageBoxPort> messageBox_;
  std::function<void(const BackupOutcome&)> onOutcome_;
  BackupTestHooks hooks_;
  const StopToken stop_;
  const StopToken windowClosed_;
};

}  // namespace

void RunBackupJob(BackupRequest* request) {
  runningJobs.fetch_add(1);
  JobRun run(request);
  run.Run();
}

std::thread StartBackupJob(BackupRequest* request) {
  try {
    return std::thread(RunBackupJob, request);
  } catch (const std::system_error&) {
    return std::thread();
  }
}

}  // namespace vaultwick
