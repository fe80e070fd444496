// Takes the screenshots shown in the README: the main window with two
// connections, one of them selected, the progress window of a Download now
// of that connection while it reads a table's rows, and then the Restore
// window after a restore of one of its restore points, the History window,
// and both pages of the connection's Settings window with an off-site remote
// set. The earlier restore points (copies of the archive made, dated
// the days before, with history rows of their runs) are staged here, as
// days of scheduled runs would have left them.
//
//   desktop_screenshots OUT_DIR DATABASE
//
// The server comes from VAULTWICK_TEST_DB_*. scripts/screenshots runs it
// under Xvfb, so the pictures are what an X server really shows.

#include <fcntl.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

#include "desktop/history_window.h"
#include "desktop/main_app.h"
#include "desktop/main_dlg.h"
#include "desktop/progress_window.h"
#include "desktop/restore_window.h"
#include "desktop/settings_window.h"
#include "platform/files.h"
#include "shell/connections.h"
#include "shell/history.h"
#include "shell/offsite_settings.h"
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

// Copies of `archive` as restore points of "shop" placed at 02:00 on each
// of the `days` days before today, with the history rows of their runs.
void StagePoints(vaultwick::SettingsStore& store, const std::string& saveTo, int days) {
  using namespace vaultwick;
  const std::string archive = CurrentArchivePath(saveTo, "shop");
  const std::vector<HistoryRow> last = store.ReadHistory("shop", 1);
  const std::int64_t size = static_cast<std::int64_t>(FileSize(archive).value_or(0));
  const std::int64_t today = ToUnixSeconds(SystemClock().Now()) / 86400 * 86400;
  QDir().mkpath(QString::fromStdString(RestorePointFolder(saveTo, "shop")));
  for (int day = days; day >= 1; --day) {
    const std::int64_t placed = today - day * 86400 + 2 * 3600 + 41;
    const std::string point =
        RestorePointFolder(saveTo, "shop") + "/" +
        RestorePointFileName("shop", ArchiveTime(std::chrono::seconds(placed)));
    QFile::copy(QString::fromStdString(archive), QString::fromStdString(point));
    const struct timespec times[2] = {{placed, 0}, {placed, 0}};
    ::utimensat(AT_FDCWD, point.c_str(), times, 0);
    HistoryRow row;
    row.connection = "shop";
    row.startedBy = "schedule";
    row.startedAt = placed - 40;
    row.endedAt = placed + 1;
    row.result = "Complete";
    row.endText = "Backup complete";
    row.archiveSize = size;
    row.rows = last.empty() ? 0 : last[0].rows;
    row.durationMs = 40800;
    row.archiveChecked = true;
    row.verified = day == 2 ? "verified" : "";
    if (day == 1) {
      // The point of the day before the oldest, which the daily count let go.
      row.pruned = RestorePointFileName(
          "shop", ArchiveTime(std::chrono::seconds(placed - (days + 1) * 86400)));
    }
    store.AppendHistory(row);
    row.connection = "warehouse";
    row.startedAt = placed - 3600;
    row.endedAt = row.startedAt + 30;
    row.result = "ConnectFailed";
    row.endText = "Can't connect to MySQL server";
    row.cause = "Can't connect to server on 'db.example.net' (110 \"Connection timed out\")";
    row.archiveSize = 0;
    row.rows = 0;
    row.durationMs = 30000;
    row.archiveChecked = false;
    row.verified.clear();
    row.pruned.clear();
    store.AppendHistory(row);
  }
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

  StagePoints(*store, backups.toStdString(), 3);
  const vaultwick::SystemClock clock;
  vaultwick::RestoreWindow restore(*store, clock, "shop");
  restore.show();
  restore.Points()->selectRow(2);
  restore.OnRestore();
  while (restore.Running()) {
    QTest::qWait(50);
  }
  ok = Save(&restore, outDir + "/restore-window.png") && ok;

  vaultwick::HistoryWindow history(*store, clock, QString());
  history.show();
  history.Table()->selectRow(1);
  ok = Save(&history, outDir + "/history-window.png") && ok;

  vaultwick::SaveOffsiteSettings(*store, {"backups:vault/db", ""});
  vaultwick::SettingsWindow settings(*store, "shop");
  settings.show();
  ok = Save(&settings, outDir + "/settings-window.png") && ok;
  settings.findChild<QTabWidget*>()->setCurrentIndex(1);
  ok = Save(&settings, outDir + "/settings-all-connections.png") && ok;
  return ok ? 0 : 1;
}
