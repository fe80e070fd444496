#include "backup/run_backup_job.h"

#include <mysql.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "backup/dump_database.h"
#include "backup/server_address_internal.h"
#include "platform/files.h"
#include "platform/temp_folder.h"
#include "zip/zip_single_file.h"

namespace vaultwick {

std::atomic<int> runningJobs{0};

namespace {

// The client library sets up process-wide state on first use; doing that from
// several job threads at once is not safe, so it happens once, here.
void InitClientLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

// The job's client handle, closed on every way out. Close() releases it early
// (the archive step does not need the server).
class ClientConnection {
 public:
  ClientConnection() : handle_(mysql_init(nullptr)) {}
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;
  ~ClientConnection() { Close(); }
  MYSQL* get() const { return handle_; }
  void Close() {
    if (handle_ != nullptr) {
      mysql_close(handle_);
      handle_ = nullptr;
    }
  }

 private:
  MYSQL* handle_;
};

BackupOutcome Ended(BackupResult result, std::string endText) {
  BackupOutcome outcome;
  outcome.result = result;
  outcome.endText = std::move(endText);
  return outcome;
}

class BackupJob {
 public:
  // Takes what the job keeps for itself out of the request at its start: the
  // window (the job's "status control") and the ports, so that nothing of them
  // needs the request after the hand-over.
  explicit BackupJob(BackupRequest* request)
      : request_(request),
        window_(request->progressWindow),
        echo_(request->statusEcho),
        messageBox_(request->messageBox),
        onOutcome_(std::move(request->onOutcome)),
        hooks_(request->testHooks) {}

  void Run() {
    BackupOutcome outcome = Execute();
    Finish(outcome);
  }

 private:
  bool WindowClosed() const { return request_->windowClosed.load() != 0; }

  void Show(const std::string& text) {
    if (window_ && !WindowClosed()) {
      window_->SetStatusText(text);
    }
    if (echo_) {
      echo_->SetStatusText(text);
    }
  }

  // Every exception, the dump's cancel signal included, ends here; unwinding
  // has closed the connection and removed the job's folder by then.
  BackupOutcome Execute() {
    try {
      return Steps();
    } catch (int signal) {
      return Ended(signal == kCancelSignal ? BackupResult::Cancelled : BackupResult::ErrorOccurred,
                   kTextErrorOccured);
    } catch (...) {
      return Ended(BackupResult::ErrorOccurred, kTextErrorOccured);
    }
  }

  BackupOutcome Steps() {
    if (!IsValidConnectionName(request_->name)) {
      return Ended(BackupResult::InvalidName, kTextInvalidName);
    }
    // Every file of the job lives in a folder made for it alone; leaving this
    // function by any way removes the folder with whatever is in it.
    std::optional<PrivateTempFolder> folder = PrivateTempFolder::Create();
    if (!folder) {
      return Ended(BackupResult::NoTempFolder, kTextNoTempFolder);
    }
    const std::string name = request_->name;
    const std::string host = request_->host;
    const std::string login = request_->login;
    const std::string password = request_->password;
    const std::string database = request_->database;
    const std::string saveTo = request_->saveTo;
    const std::string dumpPath = folder->FilePath(name + ".sql");

    Show(kTextConnecting);
    InitClientLibraryOnce();
    ClientConnection connection;
    if (connection.get() == nullptr) {
      return Ended(BackupResult::ConnectFailed, kTextCantConnect);
    }
    std::optional<ServerAddress> address = ParseServerAddress(host);
    if (!address ||
        mysql_real_connect(connection.get(), address->host.c_str(), login.c_str(), password.c_str(),
                           nullptr, address->port, nullptr, 0) == nullptr) {
      return Ended(BackupResult::ConnectFailed, kTextCantConnect);
    }
    if (mysql_select_db(connection.get(), database.c_str()) != 0) {
      return Ended(BackupResult::SelectFailed, kTextCantSelectPrefix + database);
    }

    Show(kTextGettingTables);
    DumpOutcome dump = DumpDatabase(
        connection.get(), dumpPath.c_str(), [this](const char* text) { Show(text); },
        [this] { return WindowClosed(); });
    connection.Close();
    if (dump.writeFailed) {
      BackupOutcome outcome = Ended(BackupResult::DumpWriteFailed, kTextDumpWriteFailed);
      outcome.rowsWritten = dump.rowsWritten;
      return outcome;
    }
    const std::string archivePath = folder->FilePath(name + ".zip");
    if (hooks_.afterDump) {
      hooks_.afterDump(dumpPath, archivePath);
    }

    Show(kTextZipping);
    BackupOutcome outcome = PlaceArchive(dumpPath, archivePath, saveTo);
    outcome.rowsWritten = dump.rowsWritten;
    if (outcome.result == BackupResult::Complete && dump.failedQueries > 0) {
      outcome.result = BackupResult::CompleteWithErrors;
      outcome.endText = kTextCompleteWithErrors;
    }
    DeleteFile(dumpPath);
    DeleteFile(archivePath);
    return outcome;
  }

  // Packs the dump and puts the archive into the target folder.
  BackupOutcome PlaceArchive(const std::string& dumpPath, const std::string& archivePath,
                             const std::string& saveTo) {
    if (ZipSingleFile(dumpPath.c_str(), archivePath.c_str())) {
      return Ended(BackupResult::ArchiveFailed, kTextArchiveFailed);
    }
    if (hooks_.beforeCopy) {
      hooks_.beforeCopy(archivePath);
    }
    // The separator goes in even when saveTo ends with one. An empty saveTo
    // would put the archive into the root folder, so it counts as a failed copy.
    const std::string finalPath = saveTo + "/" + request_->name + ".zip";
    int copyError = saveTo.empty() ? ENOENT : CopyFileReplacing(archivePath, finalPath);
    if (copyError != 0) {
      if (messageBox_) {
        messageBox_->ShowError(kTextCopyFailed);
      }
      return Ended(BackupResult::CopyFailed, kTextCopyFailed);
    }
    BackupOutcome outcome = Ended(BackupResult::Complete, kTextComplete);
    outcome.archiveSize = FileSize(archivePath).value_or(0);
    return outcome;
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
  std::shared_ptr<StatusTextPort> window_;
  std::shared_ptr<StatusTextPort> echo_;
  std::shared_ptr<MessageBoxPort> messageBox_;
  std::function<void(const BackupOutcome&)> onOutcome_;
  BackupTestHooks hooks_;
};

}  // namespace

void RunBackupJob(BackupRequest* request) {
  runningJobs.fetch_add(1);
  BackupJob job(request);
  job.Run();
}

bool StartBackupJob(BackupRequest* request) {
  try {
    std::thread(RunBackupJob, request).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace vaultwick
