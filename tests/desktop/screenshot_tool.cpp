// Takes the screenshots shown in the README: the main window with two
// connections, one of them selected, and the progress window of a Download
// now of that connection while it reads a table's rows.
//
//   desktop_screenshots OUT_DIR DATABASE
//
// The server comes from VAULTWICK_TEST_DB_*. scripts/screenshots runs it
// under Xvfb, so the pictures are what an X server really shows.

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "desktop/main_app.h"
#include "desktop/main_dlg.h"
#include "desktop/progress_window.h"
#include "shell/connections.h"
#include "shell/target_folder.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool Save(QWidget* window, const QString& path) {
  if (!QTest::qWaitForWindowExposed(window)) {
    std::fprintf(stderr, "window never shown\n");
    return false;
  }
  QTest::qWait(300);
  const QPixmap shot = window->screen()->grabWindow(window->winId());
  const bool saved = shot.save(path);
  std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", qPrintable(path),
              shot.width(), shot.height());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  vaultwick::CMainApp app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: desktop_screenshots OUT_DIR DATABASE\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir work;
  const QString backups = work.filePath("backups");
  QDir().mkpath(backups);
  auto store = vaultwick::SettingsStore::Open(work.filePath("settings.sqlite").toStdString());
  const vaultwick::ConnectionProfile profiles[] = {
      {"shop",
       {Env("VAULTWICK_TEST_DB_HOST") + ":" + Env("VAULTWICK_TEST_DB_PORT"),
        Env("VAULTWICK_TEST_DB_USER"),
        Env("VAULTWICK_TEST_DB_PASSWORD"),
        argv[2],
        {},
        {}},
       2,
       24},
      {"warehouse", {"db.example.net", "backup", "secret", "warehouse", {}, {}}, 0, 6},
  };
  for (const auto& profile : profiles) {
    (void)vaultwick::AddConnectionNamed(*store, profile.name);
    (void)vaultwick::ApplyConnectionChanges(*store, profile.name, profile);
  }
  vaultwick::SaveTargetFolder(*store, backups.toStdString());

  // The job waits at its first rows until the progress window is taken.
  auto echo = std::make_shared<vaultwick::test::HoldingStatusEcho>("SELECT * FROM");
  vaultwick::MainDlgOptions options;
  options.store = store.get();
  vaultwick::test::EchoDownloadNow(options, echo);
  vaultwick::CMainDlg dialog(options);
  dialog.show();
  dialog.findChild<QListWidget*>(QString::number(vaultwick::kConnectionListId))->setCurrentRow(0);
  bool ok = Save(&dialog, outDir + "/main-window.png");

  dialog.findChild<QPushButton*>(QString::number(vaultwick::kDownloadNowButtonId))->click();
  vaultwick::CFtpDown* progress = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    progress = progress != nullptr ? progress : dynamic_cast<vaultwick::CFtpDown*>(widget);
  }
  if (progress == nullptr || !echo->WaitUntilHeld(60'000)) {
    std::fprintf(stderr, "the backup did not reach its rows\n");
    echo->Release();
    return 1;
  }
  QTest::qWait(100);
  ok = Save(progress, outDir + "/progress-window.png") && ok;
  echo->Release();
  while (dialog.Runner().RunningJobCount() > 0) {
    QTest::qWait(50);
  }
  progress->close();
  return ok ? 0 : 1;
}
