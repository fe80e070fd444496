// Takes the screenshots shown in the README: the main window with two
// connections, one of them selected, and the progress window of a Download
// now that ran against the test server (when VAULTWICK_TEST_DB_* name one).
//
//   desktop_screenshots OUT_DIR
//
// scripts/screenshots runs it under Xvfb, so the pictures are what an X
// server really shows.

#include <QDir>
#include <QElapsedTimer>
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

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool Save(QWidget* window, const QString& path) {
  if (!QTest::qWaitForWindowExposed(window)) {
    std::fprintf(stderr, "window never shown\n");
  }
  QTest::qWait(200);
  const QPixmap shot = window->screen()->grabWindow(window->winId());
  const bool saved = shot.save(path);
  std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", qPrintable(path),
              shot.width(), shot.height());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  vaultwick::CMainApp app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: desktop_screenshots OUT_DIR\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir work;
  auto store = vaultwick::SettingsStore::Open(work.filePath("settings.sqlite").toStdString());
  const std::string host =
      Env("VAULTWICK_TEST_DB_HOST", "127.0.0.1") + ":" + Env("VAULTWICK_TEST_DB_PORT", "3306");
  vaultwick::ConnectionProfile shop{"shop",
                                    host,
                                    Env("VAULTWICK_TEST_DB_USER", "root"),
                                    Env("VAULTWICK_TEST_DB_PASSWORD", ""),
                                    "mysql",
                                    2,
                                    24};
  vaultwick::ConnectionProfile warehouse{
      "warehouse", "db.example.net", "backup", "secret", "warehouse", 0, 6};
  for (const auto& profile : {shop, warehouse}) {
    (void)vaultwick::AddConnectionNamed(*store, profile.name);
    (void)vaultwick::ApplyConnectionChanges(*store, profile.name, profile);
  }
  vaultwick::SaveTargetFolder(*store, work.filePath("backups").toStdString());
  QDir().mkpath(work.filePath("backups"));

  vaultwick::MainDlgOptions options;
  options.store = store.get();
  vaultwick::CMainDlg dialog(options);
  dialog.show();
  auto* list = dialog.findChild<QListWidget*>("1005");
  list->setCurrentRow(0);
  bool ok = Save(&dialog, outDir + "/main-window.png");

  dialog.findChild<QPushButton*>("1018")->click();
  vaultwick::CFtpDown* progress = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    progress = progress != nullptr ? progress : dynamic_cast<vaultwick::CFtpDown*>(widget);
  }
  if (progress == nullptr) {
    std::fprintf(stderr, "no progress window\n");
    return 1;
  }
  QElapsedTimer waited;
  waited.start();
  while (progress->StatusText().startsWith("Backup") == false && waited.elapsed() < 60'000) {
    QTest::qWait(50);
  }
  ok = Save(progress, outDir + "/progress-window.png") && ok;
  progress->close();
  return ok ? 0 : 1;
}
