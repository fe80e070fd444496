// Download now: a backup of the connection as the fields show it (edits not
// yet applied included), at once, with a progress window.

#include "backup/run_backup_job.h"
#include "desktop/job_message_boxes.h"
#include "desktop/main_dlg.h"
#include "desktop/progress_window.h"

namespace vaultwick {

void CMainDlg::OnDownloadNow() {
  if (!CommitTargetField() || !TransferIn()) {
    return;
  }
  auto* request = new BackupRequest;
  request->name = nameText.toStdString();
  request->host = hostText.toStdString();
  request->login = loginText.toStdString();
  request->password = passwordText.toStdString();
  request->database = databaseText.toStdString();
  request->saveTo = saveToText.toStdString();
  request->messageBox = jobMessageBoxes_->Port();
  CFtpDown::Open(request);
  if (!StartBackupJob(request)) {
    // No worker: the job ends here, and the window, still open, keeps the
    // request until it closes.
    MarkJobFinished(*request);
    request->progressWindow->SetStatusText(kTextErrorOccured);
  }
}

void CMainDlg::OnScheduleTick() {}

}  // namespace vaultwick
