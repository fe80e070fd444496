#pragma once

// What the desktop tests share: a main window over a settings store of its
// own in a temporary folder, its controls by id, and the message boxes it
// shows (they open without blocking, so a test reads and answers them).

#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/main_dialog_template.h"
#include "desktop/main_dlg.h"
#include "platform/settings_store.h"

namespace vaultwick::test {

class MainWindowUnderTest {
 public:
  explicit MainWindowUnderTest(bool trayAvailable = false, FolderChooser chooser = {});
  ~MainWindowUnderTest();

  // Set before Open.
  MainDlgOptions& options() { return options_; }
  // Makes and shows the window; stored values put in before this show at start.
  CMainDlg& Open();
  // Makes the window as --tray starts it.
  CMainDlg& OpenInTray();
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

// A request that counts how often it is freed.
class CountedRequest : public BackupRequest {
 public:
  explicit CountedRequest(std::atomic<int>& frees) : frees_(frees) {}
  ~CountedRequest() override { frees_.fetch_add(1); }

 private:
  std::atomic<int>& frees_;
};

// Every status text of a job, on the job's thread. The job is held at the
// first text that begins with `holdAt` until Release (never, when empty).
class HoldingStatusEcho : public StatusTextPort {
 public:
  explicit HoldingStatusEcho(std::string holdAt) : holdAt_(std::move(holdAt)) {}
  void SetStatusText(const std::string& text) override;
  // Waits (on the test's thread) until the job is held; false after `ms`.
  bool WaitUntilHeld(int ms);
  void Release();
  std::vector<std::string> Texts() const;

 private:
  const std::string holdAt_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> texts_;
  bool held_ = false;
  bool released_ = false;
};

// Download now requests of the window carry `echo`.
void EchoDownloadNow(MainDlgOptions& options, std::shared_ptr<HoldingStatusEcho> echo);

// The message boxes open over `owner`, oldest first.
QList<QMessageBox*> OpenMessageBoxes(QWidget* owner);
// Their texts; each box is closed.
QStringList TakeMessages(QWidget* owner);

}  // namespace vaultwick::test

// In a QTest function of a test that links the test database support: puts
// the private server into `server` (a std::optional<TestServer>), or skips
// the function when there is none (fails it when one is required).
#define VAULTWICK_QTEST_REQUIRE_SERVER(server)                         \
  do {                                                                 \
    std::string vw_why_;                                               \
    (server) = ::vaultwick::test::TestServerFromEnvironment(&vw_why_); \
    if (!(server)) {                                                   \
      if (::vaultwick::test::TestServerRequired()) {                   \
        QFAIL(vw_why_.c_str());                                        \
      }                                                                \
      QSKIP(vw_why_.c_str());                                          \
    }                                                                  \
  } while (false)
