// The history window over a store of its own: newest first, one connection
// alone, and a run's full account in its tooltip and below the table.

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/history_window.h"
#include "shell/connections.h"

namespace vaultwick::test {

class HistoryWindowTest : public QObject {
  Q_OBJECT

 private:
  // Three runs: shop complete, warehouse failed, shop complete with pruning.
  std::unique_ptr<SettingsStore> MakeStore() {
    auto store = SettingsStore::Open(folder_->filePath("s.sqlite").toStdString());
    (void)AddConnectionNamed(*store, "shop");
    (void)AddConnectionNamed(*store, "warehouse");
    HistoryRow row;
    row.connection = "shop";
    row.startedBy = "schedule";
    row.startedAt = 1714975200;  // 2024-05-06 06:00 UTC
    row.result = "Complete";
    row.endText = "Backup complete";
    row.archiveChecked = true;
    store->AppendHistory(row);
    row.connection = "warehouse";
    row.startedAt += 60;
    row.result = "ConnectFailed";
    row.endText = "Can't connect to MySQL server";
    row.cause = std::string("Access denied for user 'backup'@'10.0.0.7' (using password: YES)");
    row.archiveChecked = false;
    store->AppendHistory(row);
    row.connection = "shop";
    row.startedAt += 3600;
    row.result = "Complete";
    row.endText = "Backup complete";
    row.cause.clear();
    row.archiveChecked = true;
    row.verified = "differs";
    row.verifyDetail = "line 12 of the archived dump";
    row.pruned = "shop-20240501T060100Z.zip\nshop-20240502T060100Z.zip";
    store->AppendHistory(row);
    return store;
  }

  // A folder of its own for each test function.
  std::optional<QTemporaryDir> folder_;
  TestClock clock_;

 private slots:
  void init() { folder_.emplace(); }

  void ShowsNewestFirstAndFiltersByConnection() {
    auto store = MakeStore();
    HistoryWindow window(*store, clock_, QString());
    QAbstractItemModelTester tester(window.Table()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModel* shown = window.Table()->model();
    QCOMPARE(shown->rowCount(), 3);
    QCOMPARE(shown->index(0, HistoryModel::kStarted).data().toString(),
             QString("2024-05-06 07:01"));
    QCOMPARE(shown->index(1, HistoryModel::kConnection).data().toString(), QString("warehouse"));
    QCOMPARE(shown->index(2, HistoryModel::kResult).data().toString(), QString("Backup complete"));

    window.ConnectionFilter()->setCurrentIndex(window.ConnectionFilter()->findText("warehouse"));
    QCOMPARE(shown->rowCount(), 1);
    window.ShowConnection("SHOP");
    QCOMPARE(shown->rowCount(), 2);
    QCOMPARE(window.ConnectionFilter()->currentText(), QString("shop"));
    window.ShowConnection(QString());
    QCOMPARE(shown->rowCount(), 3);
  }

  void ACausesIsReadInFullInTheTooltipAndOnSelection() {
    auto store = MakeStore();
    HistoryWindow window(*store, clock_, QString());
    QAbstractItemModel* shown = window.Table()->model();
    const QString failed = shown->index(1, HistoryModel::kResult).data(Qt::ToolTipRole).toString();
    QCOMPARE(failed, QString("Can't connect to MySQL server\nAccess denied for user "
                             "'backup'@'10.0.0.7' (using password: YES)"));
    QCOMPARE(window.Detail()->text(), QString("Select a run to read how it ended in full."));
    window.Table()->selectRow(0);
    QCOMPARE(window.Detail()->text(),
             QString("Backup complete\nTest restore: differs: line 12 of the archived dump\n"
                     "Restore points removed:\nshop-20240501T060100Z.zip\n"
                     "shop-20240502T060100Z.zip"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::HistoryWindowTest)
#include "history_window_test.moc"
