#pragma once

// The progress window of a backup started with Download now: one line that
// shows each step of the job and then how it ended. It lives on the GUI
// thread; the job's worker reaches it through queued calls, so a busy or
// closing window never holds the worker up. Closing it while the job runs
// cancels the job; closing it after the job ended frees the job's request.
//
// Windows are placed in two columns from the top left corner of the screen
// by the number of progress windows open at the moment.

#include <QWidget>

#include "backup/backup_request.h"

namespace vaultwick {

class MiddleElidedLabel;

inline constexpr int kProgressStatusId = 1020;

// Progress windows open at the moment (GUI thread only).
extern int openProgressWindows;

class CFtpDown : public QWidget {
 public:
  // Opens, places and counts a window for `request` and stores it in the
  // request as the job's progress window. The worker may be started once this
  // returns. The window deletes itself when closed.
  static CFtpDown* Open(BackupRequest* request);

  ~CFtpDown() override;

  // Closes every progress window (each close cancels a job still running).
  static void CloseAll();

  QString StatusText() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  explicit CFtpDown(BackupRequest* request);
  void PlaceByOpenWindows();
  void HandOver();

  BackupRequest* request_;  // null once the window has closed
  MiddleElidedLabel* status_ = nullptr;
  std::shared_ptr<class GuiThreadCalls> calls_;
};

}  // namespace vaultwick
