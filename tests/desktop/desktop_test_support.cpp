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

void MainWindowUnderTest::Select(const QString& name) {
  auto* list = Control<QListWidget>(1005);
  const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) {
    qWarning("no list entry %s", qPrintable(name));
    return;
  }
  list->setCurrentItem(found.first());
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
