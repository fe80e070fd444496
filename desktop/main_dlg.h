#pragma once

// The main window: the list of stored connections, the details of the
// selected one with its schedule, the buttons that act on it, and the shared
// target folder. Laid out from the main dialog template; every action goes
// through the shell's operations. Its handlers are spread over a few files by
// subject: main_dlg.cpp (start-up, data exchange, enable rule),
// main_dlg_connections.cpp (Add, select, Remove, Apply), main_dlg_target.cpp
// (the target folder), main_dlg_tray.cpp (tray, scheduler, exit) and
// main_dlg_download.cpp (Download now), main_dlg_windows.cpp (the menus and
// the Restore, History and Settings windows they open).

#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "desktop/dialog_template.h"
#include "desktop/tray_report.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/history.h"
#include "shell/job_runner.h"
#include "shell/scheduler.h"
#include "shell/stale_alerts.h"

namespace vaultwick {

class GuiThreadCalls;
class HistoryWindow;
class JobMessageBoxes;

// Asks the user for a folder, starting at `current`; empty when cancelled.
using FolderChooser = std::function<QString(QWidget* owner, const QString& current)>;

struct MainDlgOptions {
  SettingsStore* store = nullptr;
  // Whether the desktop shows tray icons; without one, minimising leaves the
  // window in the task bar instead of hiding it.
  bool trayAvailable = false;
  // The platform's folder dialog unless a test puts another here.
  FolderChooser chooseFolder;
  // The scheduler's clock; the system's when null.
  const Clock* clock = nullptr;
  // Makes the request of a Download now; a plain one when empty (tests put
  // requests here that they can watch).
  std::function<std::unique_ptr<BackupRequest>()> newRequest;
};

class CMainDlg : public QDialog {
 public:
  explicit CMainDlg(MainDlgOptions options, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // The connection names the scheduler walks, copied at every minimise.
  const QStringList& ScheduledNames() const { return scheduledNames_; }
  bool SchedulerRunning() const { return scheduleTimer_.isActive(); }
  QSystemTrayIcon* TrayIcon() const { return trayIcon; }
  QMenuBar* MenuBar() const { return menuBar_; }
  // The tray icon's context menu (made with the icon).
  QMenu* TrayMenu() const { return trayMenu_; }
  JobRunner& Runner() { return *runner_; }

  // Data exchange between the controls and the members. TransferIn checks the
  // start hour first and, when it is not an integer from 0 to 23, says so and
  // changes no member. The target folder is not taken here: it changes only
  // through its check (main_dlg_target.cpp).
  [[nodiscard]] bool TransferIn();
  void TransferOut();

  // Enables the details controls and the three action buttons exactly while a
  // connection is selected; with none selected it also empties the details.
  void UpdateDetailControls();
  void FillConnectionList();

  // Handlers, named as the window's command table names them.
  void OnAdd();
  void OnSelectConnection();
  void OnRemove();
  void OnApplyChanges();
  void OnBrowse();
  void OnDownloadNow();
  void OnTrayNotify(QSystemTrayIcon::ActivationReason reason);
  void OnSize(bool minimized);
  void OnTargetFolderKillFocus();
  void OnCancel();
  void OnOK() {}
  // The menu bar's and the context menus' commands, on the selected connection.
  void OnRestoreWindow();
  void OnHistoryWindow();
  void OnSettingsWindow();
  void OnAbout();
  // The scheduler's timer: one tick over the names copied at the minimise.
  void OnScheduleTick();

  // Starts hidden in the tray (or minimised where there is no tray), as
  // minimising would; for a start at login.
  void StartInTray();

  // QDialog's accept and reject are the window's Enter and Esc.
  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* Control(int id) const { return controls_.value(id); }
  QLineEdit* Edit(int id) const;
  void OnInitDialog();
  void ConnectHandlers();
  void BuildMenus();
  QMenu* MakeTrayMenu();
  void UpdateMenuActions();
  QString SelectedConnection() const;
  void ShowError(const QString& text);
  // Runs `body`; a store that cannot be used is reported, and false returned.
  bool WithStore(const std::function<void()>& body);
  void SelectEntry(const QString& name);
  bool AcceptTargetFolder(const QString& candidate);
  bool CommitTargetField();
  void GoToTray();
  void RestoreFromTray();
  void OnJobEnded(const JobEnded& ended);
  QString TrayTip() const;
  void StopJobsAndEnd();
  void EndDialog();

  MainDlgOptions options_;
  SettingsStore& store_;
  const Clock& clock_;
  DialogControls controls_;
  // appIcon, the exchanged values below and trayIcon keep their established
  // names; the other members end in '_'.
  QIcon appIcon;
  QListWidget* connectionList_ = nullptr;
  QComboBox* periodList_ = nullptr;

  // The members the controls exchange their values with.
  QString nameText;
  QString hostText;
  QString loginText;
  QString passwordText;
  QString selectedName;
  QString periodText;
  QString saveToText;
  QString databaseText;
  int startHourValue = 0;

  QSystemTrayIcon* trayIcon = nullptr;
  QMenu* trayMenu_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  QAction* restoreAction_ = nullptr;
  QAction* historyAction_ = nullptr;
  QAction* settingsAction_ = nullptr;
  QPointer<HistoryWindow> historyWindow_;
  QTimer scheduleTimer_;
  QStringList scheduledNames_;
  TrayReport trayReport_;
  JobMessageBoxes* jobMessageBoxes_ = nullptr;
  bool targetCheckPending_ = false;
  bool ending_ = false;

  // Job threads report to the window through these calls; declared before
  // the runner and the scheduler, which use them.
  std::shared_ptr<GuiThreadCalls> calls_;
  std::unique_ptr<JobRunner> runner_;
  BackgroundStaleAlerts staleAlerts_;
  std::unique_ptr<JobStarter> starter_;
  std::unique_ptr<Scheduler> scheduler_;
  std::thread stopWaiter_;
};

}  // namespace vaultwick
