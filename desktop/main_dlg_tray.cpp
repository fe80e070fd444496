#include "desktop/main_dlg.h"

// The main window's two lives and its end: minimised, it hides in the tray
// (or, where the desktop has no tray, stays minimised in the task bar) and
// the scheduler runs; brought back, the scheduler stops. Closing saves the
// target folder and, while backups run, asks first; on Yes the jobs are asked
// to stop and the program ends once they have, or after a few seconds.

#include <QCoreApplication>
#include <QMessageBox>

#include "desktop/gui_thread_calls.h"
#include "desktop/job_message_boxes.h"
#include "desktop/main_dialog_template.h"
#include "desktop/progress_window.h"
#include "shell/target_folder.h"

namespace vaultwick {

namespace {

constexpr int kScheduleIntervalMs = 60'000;
constexpr const char* kTrayTip = "Corvane tool";
constexpr const char* kExitQuestion = "Backup in progress.\nExit program?";
// How long the exit waits for stopped jobs to clean up.
constexpr std::chrono::seconds kStopWait{5};

}  // namespace

void CMainDlg::OnSize(bool minimized) {
  if (minimized) {
    GoToTray();
  } else {
    scheduleTimer_.stop();
  }
}

// Copies the names the scheduler walks and starts its timer; the first tick
// comes a full interval later. Minimising again restarts the interval.
void CMainDlg::GoToTray() {
  scheduledNames_.clear();
  for (int row = 0; row < connectionList_->count(); ++row) {
    scheduledNames_.append(connectionList_->item(row)->text());
  }
  scheduleTimer_.start(kScheduleIntervalMs);
  if (options_.trayAvailable) {
    if (trayIcon == nullptr) {
      trayIcon = new QSystemTrayIcon(appIcon, this);
      trayIcon->setToolTip(TrayTip());
      trayMenu_ = MakeTrayMenu();
      trayIcon->setContextMenu(trayMenu_);
      connect(trayIcon, &QSystemTrayIcon::activated, this, &CMainDlg::OnTrayNotify);
    }
    trayIcon->show();
    // Hidden once the minimise has run its course: a show that is part of
    // it (showMinimized) would otherwise bring the window back.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (trayIcon->isVisible()) {
            hide();
          }
        },
        Qt::QueuedConnection);
  }
}

void CMainDlg::StartInTray() {
  if (options_.trayAvailable) {
    GoToTray();
  } else {
    showMinimized();
  }
}

// A click (or the first click of a double click) brings the window back; the
// context button and the middle button do nothing.
void CMainDlg::OnTrayNotify(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
    RestoreFromTray();
  }
}

void CMainDlg::RestoreFromTray() {
  if (trayIcon == nullptr || !trayIcon->isVisible()) {
    return;
  }
  trayIcon->hide();
  scheduleTimer_.stop();
  trayReport_.Clear();
  trayIcon->setToolTip(TrayTip());
  showNormal();
  raise();
  activateWindow();
}

void CMainDlg::OnCancel() {
  if (ending_ || !CommitTargetField()) {
    return;
  }
  WithStore([this] { SaveTargetFolder(store_, saveToText.toStdString()); });
  if (runner_->RunningJobCount() == 0) {
    EndDialog();
    return;
  }
  auto* question =
      new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                      QString::fromLatin1(kExitQuestion), QMessageBox::Yes | QMessageBox::No, this);
  question->setAttribute(Qt::WA_DeleteOnClose);
  connect(question, &QMessageBox::finished, this, [this](int answer) {
    if (answer == QMessageBox::Yes) {
      StopJobsAndEnd();
    }
  });
  question->open();
}

// Jobs are asked to stop and their windows closed. The wait for them runs
// on a thread of its own, so the GUI thread stays free for anything a
// stopping job still hands it; the window ends when no job runs any more or
// the time is up.
void CMainDlg::StopJobsAndEnd() {
  ending_ = true;
  setEnabled(false);
  jobMessageBoxes_->ShutDown();
  CFtpDown::CloseAll();
  runner_->StopAll();
  stopWaiter_ = std::thread([runner = runner_.get(), calls = calls_, this] {
    runner->WaitForAll(kStopWait);
    calls->Post([this] { EndDialog(); });
  });
}

void CMainDlg::OnScheduleTick() {
  std::vector<std::string> names;
  for (const QString& name : scheduledNames_) {
    names.push_back(name.toStdString());
  }
  WithStore([&] { staleAlerts_.Send(scheduler_->Tick(names).staleAlerts); });
}

// The tray tip keeps every scheduled run that failed, or whose test restore
// did not verify, since the window was last opened (else how the last one
// ended); each such run also shows a notification (the history keeps them all).
void CMainDlg::OnJobEnded(const JobEnded& ended) {
  if (ended.origin != JobOrigin::Schedule) {
    return;
  }
  const std::optional<LocalTime> started = clock_.ToLocalTime(ended.startedAt);
  const QString at = started ? QStringLiteral("%1:%2")
                                   .arg(started->hour, 2, 10, QLatin1Char('0'))
                                   .arg(started->minute, 2, 10, QLatin1Char('0'))
                             : QStringLiteral("?");
  const std::optional<TrayReport::Notification> note = trayReport_.Add(ended, at);
  if (trayIcon != nullptr) {
    trayIcon->setToolTip(TrayTip());
    if (note) {
      trayIcon->showMessage(note->title, note->text, QSystemTrayIcon::Critical);
    }
  }
}

QString CMainDlg::TrayTip() const {
  const QString tip = QString::fromLatin1(kTrayTip);
  const QString report = trayReport_.Text();
  return report.isEmpty() ? tip : tip + "\n" + report;
}

void CMainDlg::EndDialog() {
  ending_ = true;
  scheduleTimer_.stop();
  if (trayIcon != nullptr) {
    trayIcon->hide();
  }
  done(QDialog::Rejected);
}

}  // namespace vaultwick
