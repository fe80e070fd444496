#pragma once

// The restore window of one connection: its restore points, newest first,
// the database to restore into (by default <database>_restored, beside the
// original), and Restore, which loads the chosen archive on a thread of its
// own while a bar shows how much of the archive's dump has been loaded and
// how many rows a second go in. Cancel stops the load between two
// statements. How it ended is said in plain words below.
//
// The connection's own database is refused unless "Replace the existing
// database" is ticked and the user confirms; any other database that
// already holds tables is refused by the restore itself unless it is ticked.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <chrono>
#include <memory>
#include <thread>

#include "desktop/restore_point_model.h"
#include "platform/settings_store.h"
#include "restore/restore_database.h"
#include "shell/connections.h"

namespace vaultwick {

class GuiThreadCalls;

class RestoreWindow : public QWidget {
 public:
  // `store` and `clock` must outlive the window.
  RestoreWindow(SettingsStore& store, const Clock& clock, const QString& connection,
                QWidget* parent = nullptr);
  // A restore still running is stopped and waited for: it stops at its next
  // statement and never waits for this thread.
  ~RestoreWindow() override;

  // Starts the restore the controls describe, after the checks (and the
  // question, for the connection's own database).
  void OnRestore();
  void OnCancel();
  bool Running() const { return worker_.joinable(); }

  QTableView* Points() const { return table_; }
  RestorePointModel& PointModel() { return model_; }
  QLineEdit* Database() const { return database_; }
  QCheckBox* Replace() const { return replace_; }
  QPushButton* RestoreButton() const { return restore_; }
  QPushButton* CancelButton() const { return cancel_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* Speed() const { return speed_; }
  QLabel* Outcome() const { return outcome_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void LoadPoints();
  const RestorePoint* ChosenPoint() const;
  void Start();
  void ShowProgress(const RestoreProgress& progress);
  void Finish(const RestoreOutcome& outcome);
  void SetRunning(bool running);

  SettingsStore& store_;
  const Clock& clock_;
  std::optional<ConnectionProfile> profile_;
  std::string saveTo_;
  std::string archivePassword_;  // opens the points encrypted under it
  RestorePointModel model_;
  QTableView* table_ = nullptr;
  QLineEdit* database_ = nullptr;
  QCheckBox* replace_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* close_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* speed_ = nullptr;
  QLabel* outcome_ = nullptr;

  std::shared_ptr<GuiThreadCalls> calls_;
  std::thread worker_;
  StopToken stop_;
  std::string running_;  // "<database> from <file>" of the restore under way
  std::chrono::steady_clock::time_point loadStarted_;
  bool loading_ = false;
  bool closeWhenDone_ = false;
};

}  // namespace vaultwick
