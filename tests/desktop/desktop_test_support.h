#pragma once

// What the desktop tests share: a main window over a settings store of its
// own in a temporary folder, its controls by id, and the message boxes it
// shows (they open without blocking, so a test reads and answers them).

#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "desktop/main_dlg.h"
#include "platform/settings_store.h"

namespace vaultwick::test {

class MainWindowUnderTest {
 public:
  explicit MainWindowUnderTest(bool trayAvailable = false, FolderChooser chooser = {});
  ~MainWindowUnderTest();

  // Makes and shows the window; stored values put in before this show at start.
  CMainDlg& Open();
  CMainDlg& dialog() { return *dialog_; }
  SettingsStore& store() { return *store_; }
  QString Path(const QString& name) const { return folder_.filePath(name); }

  template <typename T>
  T* Control(int id) {
    return dialog_->findChild<T*>(QString::number(id));
  }
  // Selects a list entry as a user's click does.
  void Select(const QString& name);

 private:
  QTemporaryDir folder_;
  std::unique_ptr<SettingsStore> store_;
  MainDlgOptions options_;
  std::unique_ptr<CMainDlg> dialog_;
};

// The message boxes open over `owner`, oldest first.
QList<QMessageBox*> OpenMessageBoxes(QWidget* owner);
// Their texts; each box is closed.
QStringList TakeMessages(QWidget* owner);

}  // namespace vaultwick::test
