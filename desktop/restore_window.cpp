#include "desktop/restore_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QVBoxLayout>

#include "desktop/gui_thread_calls.h"
#include "shell/target_folder.h"

namespace vaultwick {

namespace {

// The bar counts in thousandths: a dump past 2 GiB would overflow an int.
constexpr int kProgressSteps = 1000;

QString Plain(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

RestoreWindow::RestoreWindow(SettingsStore& store, const Clock& clock, const QString& connection,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), clock_(clock), model_(clock) {
  setWindowTitle(QStringLiteral("Restore %1").arg(connection));
  setAttribute(Qt::WA_DeleteOnClose);
  table_ = MakeRowTable(&model_, this);
  database_ = new QLineEdit(this);
  replace_ = new QCheckBox(QStringLiteral("Re&place the existing database"), this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, kProgressSteps);
  progress_->setValue(0);
  speed_ = new QLabel(this);
  outcome_ = new QLabel(this);
  outcome_->setWordWrap(true);
  outcome_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  restore_ = new QPushButton(QStringLiteral("&Restore"), this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);

  auto* into = new QGridLayout;
  into->addWidget(new QLabel(QStringLiteral("Restore &into database:"), this), 0, 0);
  into->addWidget(database_, 0, 1);
  into->addWidget(replace_, 1, 1);
  auto* bar = new QHBoxLayout;
  bar->addWidget(progress_, 1);
  bar->addWidget(speed_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(restore_);
  buttons->addWidget(cancel_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      QStringLiteral("&Restore points of %1, newest first:").arg(connection.toHtmlEscaped()),
      this));
  layout->addWidget(table_, 1);
  layout->addLayout(into);
  layout->addLayout(bar);
  layout->addWidget(outcome_);
  layout->addLayout(buttons);
  static_cast<QLabel*>(layout->itemAt(0)->widget())->setBuddy(table_);
  static_cast<QLabel*>(into->itemAtPosition(0, 0)->widget())->setBuddy(database_);

  connect(restore_, &QPushButton::clicked, this, &RestoreWindow::OnRestore);
  connect(cancel_, &QPushButton::clicked, this, &RestoreWindow::OnCancel);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  calls_ = GuiThreadCalls::For(this);

  try {
    if (std::optional<StoredConnection> stored =
            ReadStoredConnection(store_, connection.toStdString())) {
      profile_ = stored->profile;
      archivePassword_ = stored->archivePassword;
    }
    saveTo_ = LoadTargetFolder(store_);
  } catch (const SettingsStoreError& error) {
    outcome_->setText(Plain(error.what()));
  }
  if (profile_) {
    database_->setText(Plain(profile_->server.database + "_restored"));
    LoadPoints();
  } else if (outcome_->text().isEmpty()) {
    outcome_->setText(QStringLiteral("There is no connection named %1.").arg(connection));
  }
  SetRunning(false);
  resize(560, 380);
}

RestoreWindow::~RestoreWindow() {
  calls_->Detach();
  if (worker_.joinable()) {
    stop_.RequestStop();
    worker_.join();
  }
}

void RestoreWindow::LoadPoints() {
  std::vector<RestorePoint> points;
  try {
    points = ListRestorePoints(store_, saveTo_, profile_->name);
  } catch (const SettingsStoreError& error) {
    outcome_->setText(Plain(error.what()));
  }
  model_.SetItems(std::move(points));
  table_->resizeColumnsToContents();
  if (model_.rowCount() > 0) {
    table_->selectRow(0);
  } else {
    outcome_->setText(QStringLiteral("There is no archive of %1 in %2 yet.")
                          .arg(Plain(profile_->name), Plain(saveTo_)));
  }
}

const RestorePoint* RestoreWindow::ChosenPoint() const {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : &model_.At(rows.first().row());
}

void RestoreWindow::OnRestore() {
  if (Running() || !profile_) {
    return;
  }
  const RestorePoint* point = ChosenPoint();
  const QString database = database_->text().trimmed();
  if (point == nullptr) {
    outcome_->setText(QStringLiteral("Choose the restore point to restore."));
    return;
  }
  if (database.isEmpty()) {
    outcome_->setText(QStringLiteral("Name the database to restore into."));
    return;
  }
  if (!SameConnectionName(database.toStdString(), profile_->server.database)) {
    Start();
    return;
  }
  if (!replace_->isChecked()) {
    outcome_->setText(QStringLiteral("%1 is the database this connection backs up. Restore into "
                                     "another one, or tick \"Replace the existing database\" to "
                                     "restore over it.")
                          .arg(database));
    return;
  }
  auto* question = new QMessageBox(
      QMessageBox::Warning, QCoreApplication::applicationName(),
      QStringLiteral("Replace the database %1 on %2 with the archive placed %3?\n\nIts tables, "
                     "views, routines and events of the same names are dropped first.")
          .arg(database, Plain(profile_->server.host), LocalMinuteText(clock_, point->file.time)),
      QMessageBox::Yes | QMessageBox::No, this);
  question->setDefaultButton(QMessageBox::No);
  question->setAttribute(Qt::WA_DeleteOnClose);
  connect(question, &QMessageBox::finished, this, [this](int answer) {
    if (answer == QMessageBox::Yes) {
      Start();
    }
  });
  question->open();
}

void RestoreWindow::Start() {
  const RestorePoint* point = ChosenPoint();
  if (point == nullptr || Running()) {
    return;
  }
  RestoreRequest request;
  request.archivePath = point->file.path;
  request.archivePassword = archivePassword_;
  request.server = profile_->server;
  request.server.database = database_->text().trimmed().toStdString();
  request.replace = replace_->isChecked();
  stop_ = request.stop;
  running_ = request.server.database;
  loading_ = false;
  progress_->setRange(0, 0);  // busy while the archive is checked
  speed_->clear();
  outcome_->setText(QStringLiteral("Checking the archive placed %1...")
                        .arg(LocalMinuteText(clock_, point->file.time)));
  SetRunning(true);
  worker_ = std::thread([calls = calls_, request = std::move(request), this] {
    const RestoreOutcome outcome = RestoreDatabase(request, [&](const RestoreProgress& progress) {
      calls->Post([this, progress] { ShowProgress(progress); });
    });
    calls->Post([this, outcome] { Finish(outcome); });
  });
}

void RestoreWindow::ShowProgress(const RestoreProgress& progress) {
  if (progress.phase != RestoreProgress::Phase::Loading) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!loading_) {
    loading_ = true;
    loadStarted_ = now;
    progress_->setRange(0, kProgressSteps);
    outcome_->setText(QStringLiteral("Loading into %1...").arg(Plain(running_)));
  }
  if (progress.bytesTotal > 0) {
    progress_->setValue(
        static_cast<int>(progress.bytesDone * kProgressSteps / progress.bytesTotal));
  }
  const double seconds = std::chrono::duration<double>(now - loadStarted_).count();
  const double perSecond = seconds > 0 ? static_cast<double>(progress.rows) / seconds : 0.0;
  speed_->setText(QStringLiteral("%1 rows/s").arg(QLocale().toString(perSecond, 'f', 0)));
}

void RestoreWindow::Finish(const RestoreOutcome& outcome) {
  worker_.join();
  SetRunning(false);
  progress_->setRange(0, kProgressSteps);
  const QString database = Plain(running_);
  const QString rows = QLocale().toString(static_cast<qulonglong>(outcome.rows));
  switch (outcome.result) {
    case RestoreResult::Restored:
      progress_->setValue(kProgressSteps);
      outcome_->setText(QStringLiteral("Restored: %1 rows are in %2.").arg(rows, database));
      break;
    case RestoreResult::Stopped:
      outcome_->setText(QStringLiteral("Cancelled after %1 rows: %2 holds only part of the "
                                       "archive.")
                            .arg(rows, database));
      break;
    case RestoreResult::StatementFailed:
      outcome_->setText(QStringLiteral("Not restored: the server refused line %1 of the dump: %2")
                            .arg(QString::number(outcome.line), Plain(outcome.message)));
      break;
    default:
      outcome_->setText(QStringLiteral("Not restored: %1").arg(Plain(outcome.message)));
      break;
  }
  if (closeWhenDone_) {
    close();
  }
}

void RestoreWindow::OnCancel() {
  if (Running()) {
    stop_.RequestStop();
    outcome_->setText(QStringLiteral("Cancelling at the next statement..."));
    cancel_->setEnabled(false);
  }
}

void RestoreWindow::SetRunning(bool running) {
  restore_->setEnabled(!running && profile_ && model_.rowCount() > 0);
  cancel_->setEnabled(running);
  table_->setEnabled(!running);
  database_->setEnabled(!running);
  replace_->setEnabled(!running);
}

// Closing while a restore runs cancels it; the window goes once it has stopped.
void RestoreWindow::closeEvent(QCloseEvent* event) {
  if (Running()) {
    closeWhenDone_ = true;
    OnCancel();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace vaultwick
