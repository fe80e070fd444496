// Backups started from the main window against the private server: Download
// now to the end with the archive in the folder, a progress window closed
// while rows are read, and a scheduled run from the tray.

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>

#include "desktop/progress_window.h"
#include "shell/connections.h"
#include "shell/target_folder.h"
#include "tests/desktop/desktop_test_support.h"
#include "tests/support/test_database.h"
#include "tests/zip/archive_parser.h"

namespace vaultwick::test {

namespace {

CFtpDown* OpenProgressWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = dynamic_cast<CFtpDown*>(widget); window != nullptr && window->isVisible()) {
      return window;
    }
  }
  return nullptr;
}

// The member names of an archive, as an independent reader of the archive
// structure finds them; empty when the file is missing or not an archive.
QStringList ArchiveMembers(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray bytes = file.readAll();
  testing::ParsedArchive archive;
  if (!testing::parseArchive(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<std::size_t>(bytes.size()), 0, archive)
           .empty()) {
    return {};
  }
  QStringList members;
  for (const testing::ParsedMember& member : archive.members) {
    members.append(QString::fromStdString(member.name));
  }
  return members;
}

}  // namespace

class DownloadNowTest : public QObject {
  Q_OBJECT

 private:
  std::optional<TestServer> server_;
  std::unique_ptr<TestDatabase> database_;
  QTemporaryDir tmpdir_;

  // A stored connection "shop" to the test database, the target folder
  // "backups", and the window open with "shop" selected.
  void OpenWithShop(MainWindowUnderTest& window, int startHour = 0) {
    const QString folder = window.Path("backups");
    QDir().mkpath(folder);
    SaveTargetFolder(window.store(), folder.toStdString());
    const ConnectionProfile shop{"shop", LoginTo(*server_, database_->name()), startHour, 24};
    (void)AddConnectionNamed(window.store(), "shop");
    QCOMPARE(ApplyConnectionChanges(window.store(), "shop", shop), ChangeResult::Done);
    window.Open();
    window.Select("shop");
  }

 private slots:
  void initTestCase() {
    VAULTWICK_QTEST_REQUIRE_SERVER(server_);
    database_ = std::make_unique<TestDatabase>(*server_, "desktop");
    QVERIFY2(database_->ok(), database_->error().c_str());
    QVERIFY(
        database_->Execute("CREATE TABLE orders (id INT PRIMARY KEY, item VARCHAR(20));"
                           "INSERT INTO orders VALUES (1, 'lamp'), (2, 'desk'), (3, 'chair');"));
    // Jobs make their private folders here, so the tests see none is left.
    qputenv("TMPDIR", tmpdir_.path().toUtf8());
  }

  void cleanupTestCase() { database_.reset(); }

  void cleanup() {
    QCOMPARE(QDir(tmpdir_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
  }

  // The job takes the fields as shown, unapplied edits included; the stored
  // connection keeps its own values.
  void RunsToTheEndWithTheFieldsAsTyped() {
    MainWindowUnderTest window;
    OpenWithShop(window);
    window.Control<QLineEdit>(kNameEditId)->setText("typed");
    window.Control<QPushButton>(kDownloadNowButtonId)->click();
    CFtpDown* progress = OpenProgressWindow();
    QVERIFY(progress != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(progress->StatusText(), QString("Backup complete"), 60'000);
    QCOMPARE(ArchiveMembers(window.Path("backups/typed.zip")), QStringList({"typed.sql"}));
    QVERIFY(!QFile::exists(window.Path("backups/shop.zip")));
    QCOMPARE(ListConnections(window.store()), std::vector<std::string>({"shop"}));
    QTRY_COMPARE(window.dialog().Runner().RunningJobCount(), 0);
    progress->close();
    QCOMPARE(openProgressWindows, 0);
  }

  // Closing the window before the first row is read cancels the job: no
  // archive, no private folder left, and the request is freed once.
  void ClosingTheWindowDuringRowsCancels() {
    MainWindowUnderTest window;
    auto echo = std::make_shared<HoldingStatusEcho>("SELECT * FROM");
    std::atomic<int> frees{0};
    window.options().newRequest = [&] {
      auto request = std::make_unique<CountedRequest>(frees);
      request->statusEcho = echo;
      return request;
    };
    OpenWithShop(window);
    window.Control<QPushButton>(kDownloadNowButtonId)->click();
    QVERIFY(echo->WaitUntilHeld(60'000));
    CFtpDown* progress = OpenProgressWindow();
    QTRY_VERIFY(progress->StatusText().startsWith("SELECT * FROM"));
    progress->close();
    echo->Release();
    QTRY_COMPARE_WITH_TIMEOUT(window.dialog().Runner().RunningJobCount(), 0, 60'000);
    QCOMPARE(echo->Texts().back(), std::string("Error occured"));
    QCOMPARE(frees.load(), 1);
    QVERIFY(!QFile::exists(window.Path("backups/shop.zip")));
  }

  // A job waiting for its copy-failure message to be dismissed does not hold
  // up the exit, nor does the exit wait for the message.
  void ExitReleasesAJobWaitingForItsMessage() {
    MainWindowUnderTest window;
    OpenWithShop(window);
    QVERIFY(QDir(window.Path("backups")).removeRecursively());
    window.Control<QPushButton>(kDownloadNowButtonId)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!OpenMessageBoxes(&window.dialog()).isEmpty(), 60'000);
    QCOMPARE(OpenMessageBoxes(&window.dialog())[0]->text(),
             QString("Could not copy file to target directory"));
    QSignalSpy finished(&window.dialog(), &QDialog::finished);
    window.dialog().close();
    const QList<QMessageBox*> boxes = OpenMessageBoxes(&window.dialog());
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[1]->text(), QString("Backup in progress.\nExit program?"));
    boxes[1]->button(QMessageBox::Yes)->click();
    QVERIFY(finished.wait(10'000));
    QCOMPARE(window.dialog().Runner().RunningJobCount(), 0);
  }

  // Minimised before the hour, the first tick in minute 0 starts the
  // connection due then; the tray tip tells how it ended.
  void ScheduledRunFromTheTray() {
    TestClock clock({2024, 5, 6, 9, 59, 30});
    MainWindowUnderTest window(true);
    window.options().clock = &clock;
    OpenWithShop(window, 10);
    window.dialog().showMinimized();
    QVERIFY(window.dialog().SchedulerRunning());
    clock.Advance(std::chrono::seconds(60));
    window.dialog().OnScheduleTick();
    QTRY_COMPARE_WITH_TIMEOUT(window.dialog().TrayIcon()->toolTip(),
                              QString("Corvane tool\nshop: Backup complete"), 60'000);
    QCOMPARE(ArchiveMembers(window.Path("backups/shop.zip")), QStringList({"shop.sql"}));
    QTRY_COMPARE(window.dialog().Runner().RunningJobCount(), 0);
    // Opening the window is seeing what the tip said.
    emit window.dialog().TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QCOMPARE(window.dialog().TrayIcon()->toolTip(), QString("Corvane tool"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::DownloadNowTest)
#include "download_now_test.moc"
