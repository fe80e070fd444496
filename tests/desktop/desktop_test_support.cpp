#include "tests/desktop/desktop_test_support.h"

#include <QListWidget>
#include <QTest>

namespace vaultwick::test {

MainWindowUnderTest::MainWindowUnderTest(bool trayAvailable, FolderChooser chooser) {
  store_ = SettingsStore::Open(folder_.filePath("settings.sqlite").toStdString());
  options_.store = store_.get();
  options_.trayAvailable = trayAvailable;
  options_.chooseFolder = std::move(chooser);
}

MainWindowUnderTest::~MainWindowUnderTest() {
  for (QMessageBox* box : OpenMessageBoxes(dialog_.get())) {
    box->done(0);
  }
  dialog_.reset();
}

CMainDlg& MainWindowUnderTest::Open() {
  dialog_ = std::make_unique<CMainDlg>(options_);
  dialog_->show();
  dialog_->activateWindow();
  if (!QTest::qWaitForWindowActive(dialog_.get())) {
    qWarning("main window not active");
  }
  return *dialog_;
}

CMainDlg& MainWindowUnderTest::OpenInTray() {
  dialog_ = std::make_unique<CMainDlg>(options_);
  dialog_->StartInTray();
  return *dialog_;
}

void MainWindowUnderTest::Select(const QString& name) {
  auto* list = Control<QListWidget>(kConnectionListId);
  const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) {
    qWarning("no list entry %s", qPrintable(name));
    return;
  }
  list->setCurrentItem(found.first());
}

void HoldingStatusEcho::SetStatusText(const std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  texts_.push_back(text);
  if (!held_ && !holdAt_.empty() && text.starts_with(holdAt_)) {
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }
}

bool HoldingStatusEcho::WaitUntilHeld(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return held_; });
}

void HoldingStatusEcho::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

std::vector<std::string> HoldingStatusEcho::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_;
}

void EchoDownloadNow(MainDlgOptions& options, std::shared_ptr<HoldingStatusEcho> echo) {
  options.newRequest = [echo] {
    auto request = std::make_unique<BackupRequest>();
    request->statusEcho = echo;
    return request;
  };
}

QList<QMessageBox*> OpenMessageBoxes(QWidget* owner) {
  QList<QMessageBox*> open;
  if (owner == nullptr) {
    return open;
  }
  for (QMessageBox* box : owner->findChildren<QMessageBox*>()) {
    if (box->isVisible()) {
      open.append(box);
    }
  }
  return open;
}

QStringList TakeMessages(QWidget* owner) {
  QStringList texts;
  for (QMessageBox* box : OpenMessageBoxes(owner)) {
    texts.append(box->text());
    box->done(0);
  }
  return texts;
}

}  // namespace vaultwick::test
