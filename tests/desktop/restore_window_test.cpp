// The restore window: its points newest first, the database it proposes,
// the refusal of the connection's own database, and (against the private
// server) a restore of the chosen point to the end, and one cancelled.

#include <QAbstractItemModelTester>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "desktop/restore_window.h"
#include "platform/files.h"
#include "shell/connections.h"
#include "shell/target_folder.h"
#include "tests/desktop/desktop_test_support.h"
#include "tests/support/test_database.h"
#include "zip/zip_single_file.h"

namespace vaultwick::test {

namespace {

const ArchiveTime kFirst =
    std::chrono::sys_days(std::chrono::year(2024) / 5 / 6) + std::chrono::hours(6);

}  // namespace

class RestoreWindowTest : public QObject {
  Q_OBJECT

 private:
  // A folder of its own for each test function.
  std::optional<QTemporaryDir> folder_;
  TestClock clock_;
  std::unique_ptr<SettingsStore> store_;
  std::optional<TestServer> server_;

  QString Target() const { return folder_->filePath("backups"); }
  std::string Points() const { return RestorePointFolder(Target().toStdString(), "shop"); }

  // "shop" backs up `database` into Target().
  void StoreShop(const std::string& database) {
    store_ = SettingsStore::Open(folder_->filePath("s.sqlite").toStdString());
    QDir().mkpath(Target());
    SaveTargetFolder(*store_, Target().toStdString());
    (void)AddConnectionNamed(*store_, "shop");
    ConnectionProfile shop{"shop", {"127.0.0.1:1", "backup", "", database, {}, {}}, 0, 24};
    if (server_) {
      shop.server = LoginTo(*server_, database);
    }
    QCOMPARE(ApplyConnectionChanges(*store_, "shop", shop), ChangeResult::Done);
  }

  // An archive of a dump made of `sql`, at `path`.
  void WriteArchive(const std::string& path, const std::string& sql) {
    const QString dump = folder_->filePath("shop.sql");
    std::ofstream(dump.toStdString(), std::ios::binary) << sql;
    QDir().mkpath(QString::fromStdString(FolderOf(path)));
    QCOMPARE(ZipSingleFile(dump.toStdString().c_str(), path.c_str()), ZipResult::Ok);
  }

 private slots:
  void init() {
    store_.reset();
    folder_.emplace();
  }

  void ListsThePointsAndRefusesTheOwnDatabaseUnlessReplacing() {
    StoreShop("sales");
    WriteArchive(Points() + "/" + RestorePointFileName("shop", kFirst), "SELECT 1;\n");
    WriteArchive(Target().toStdString() + "/shop.zip", "SELECT 2;\n");
    RestoreWindow window(*store_, clock_, "shop");
    QAbstractItemModelTester tester(&window.PointModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(window.PointModel().rowCount(), 2);
    QVERIFY(window.PointModel().index(0, 0).data().toString().endsWith(" (newest)"));
    QCOMPARE(window.PointModel().index(1, 0).data().toString(), QString("2024-05-06 06:00"));
    QCOMPARE(window.PointModel().index(1, RestorePointModel::kVerified).data().toString(),
             QString("?"));
    QCOMPARE(window.Points()->selectionModel()->selectedRows().first().row(), 0);
    QCOMPARE(window.Database()->text(), QString("sales_restored"));
    QVERIFY(window.RestoreButton()->isEnabled());
    QVERIFY(!window.CancelButton()->isEnabled());

    window.Database()->setText("SALES");
    window.OnRestore();
    QVERIFY(!window.Running());
    QVERIFY(window.Outcome()->text().startsWith("SALES is the database this connection backs up"));

    window.show();
    window.Replace()->setChecked(true);
    window.OnRestore();
    const QList<QMessageBox*> asked = OpenMessageBoxes(&window);
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked.first()->text().startsWith("Replace the database SALES on 127.0.0.1:1"));
    asked.first()->button(QMessageBox::No)->click();
    QVERIFY(!window.Running());
  }

  void AConnectionWithoutArchivesSaysSo() {
    StoreShop("sales");
    RestoreWindow window(*store_, clock_, "shop");
    QCOMPARE(window.PointModel().rowCount(), 0);
    QVERIFY(!window.RestoreButton()->isEnabled());
    QCOMPARE(window.Outcome()->text(),
             QString("There is no archive of shop in %1 yet.").arg(Target()));
  }

  // Against the private server: the chosen (older) point goes into the
  // database named, and the outcome says so.
  void RestoresTheChosenPoint() {
    VAULTWICK_QTEST_REQUIRE_SERVER(server_);
    TestDatabase source(*server_, "restorewin");
    QVERIFY2(source.ok(), source.error().c_str());
    StoreShop(source.name());
    WriteArchive(Points() + "/" + RestorePointFileName("shop", kFirst),
                 "CREATE TABLE `t` (`id` INT PRIMARY KEY);\r\nINSERT INTO `t` VALUES(1);\r\n"
                 "INSERT INTO `t` VALUES(2);\r\nINSERT INTO `t` VALUES(3);\r\n");
    WriteArchive(Target().toStdString() + "/shop.zip",
                 "CREATE TABLE `t` (`id` INT PRIMARY KEY);\r\nINSERT INTO `t` VALUES(9);\r\n");
    RestoreWindow window(*store_, clock_, "shop");
    window.Points()->selectRow(1);
    window.Database()->setText(QString::fromStdString(source.name() + "_older"));
    window.OnRestore();
    QVERIFY(window.Running());
    QVERIFY(window.CancelButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 60'000);
    QCOMPARE(
        window.Outcome()->text(),
        QString("Restored: 3 rows are in %1_older.").arg(QString::fromStdString(source.name())));
    QCOMPARE(window.Progress()->value(), window.Progress()->maximum());
    std::vector<ResultRow> rows;
    QVERIFY(source.Query("SELECT COUNT(*) FROM `" + source.name() + "_older`.t", &rows));
    QCOMPARE(rows.at(0).at(0).value_or(""), std::string("3"));
    QVERIFY(source.Execute("DROP DATABASE `" + source.name() + "_older`"));

    // Cancel: the replacing restore waits for a table the test holds locked,
    // so it can only end by being stopped.
    const std::string locked = source.name() + "_locked";
    QVERIFY(source.Execute("CREATE DATABASE `" + locked + "`; CREATE TABLE `" + locked +
                           "`.t (id INT); LOCK TABLES `" + locked + "`.t WRITE"));
    window.Database()->setText(QString::fromStdString(locked));
    window.Replace()->setChecked(true);
    window.OnRestore();
    QVERIFY(window.Running());
    window.CancelButton()->click();
    QVERIFY(!window.CancelButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 60'000);
    QVERIFY2(window.Outcome()->text().startsWith("Cancelled after 0 rows"),
             qPrintable(window.Outcome()->text()));
    QVERIFY(source.Execute("UNLOCK TABLES; DROP DATABASE `" + locked + "`"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::RestoreWindowTest)
#include "restore_window_test.moc"
