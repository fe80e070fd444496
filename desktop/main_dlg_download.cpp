#include "desktop/main_dlg.h"

// Download now: a backup of the connection as the fields show it (edits not
// yet applied included), at once, with a progress window.

#include "backup/run_backup_job.h"
#include "desktop/progress_window.h"

namespace vaultwick {

void CMainDlg::OnDownloadNow() {
  if (!CommitTargetField() || !TransferIn()) {
    return;
  }
  std::unique_ptr<BackupRequest> request =
      options_.newRequest ? options_.newRequest() : std::make_unique<BackupRequest>();
  request->job.name = nameText.toStdString();
  request->job.server.host = hostText.toStdString();
  request->job.server.login = loginText.toStdString();
  request->job.server.password = passwordText.toStdString();
  request->job.server.database = databaseText.toStdString();
  request->job.saveTo = saveToText.toStdString();
  BackupRequest* shared = request.get();
  // The window is in the request before the worker starts.
  CFtpDown::Open(shared);
  const JobStart started =
      starter_->Start(request, JobOrigin::DownloadNow, StartRule::UnlessRunning);
  if (started != JobStart::Started) {
    // No job runs: it ends here, and the window, still open, frees the
    // request when it closes.
    MarkJobFinished(*shared);
    shared->progressWindow->SetStatusText(
        started == JobStart::AlreadyRunning ? kTextPreviousRunStillGoing : kTextErrorOccured);
    request.release();
    if (started == JobStart::AlreadyRunning) {
      // The run under way may belong to another program (the service), so
      // the user is told plainly why nothing happens.
      ShowError(nameText + QStringLiteral(": ") + QString::fromLatin1(kTextPreviousRunStillGoing));
    }
  }
}

}  // namespace vaultwick
