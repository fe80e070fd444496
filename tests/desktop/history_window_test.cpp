// The history window over a store of its own: newest first, one connection
// alone, and a run's full account in its tooltip and below the table.

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/history_window.h"
#include "shell/connections.h"
#include "shell/history.h"

namespace vaultwick::test {

class HistoryWindowTest : public QObject {
  Q_OBJECT

 private:
  // Three runs: shop complete, warehouse failed, shop complete with pruning.
  // The failed one is written last, as a run that started earlier but took
  // longer is: the window still shows it by its start.
  std::unique_ptr<SettingsStore> MakeStore() {
    auto store = SettingsStore::Open(folder_->filePath("s.sqlite").toStdString());
    (void)AddConnectionNamed(*store, "shop");
    (void)AddConnectionNamed(*store, "warehouse");
    HistoryRow shop;
    shop.connection = "shop";
    shop.startedBy = "schedule";
    shop.startedAt = 1714975200;  // 2024-05-06 06:00 UTC
    shop.result = "Complete";
    shop.endText = "Backup complete";
    shop.archiveChecked = true;
    store->AppendHistory(shop);
    HistoryRow failed = shop;
    failed.connection = "warehouse";
    failed.startedAt += 60;
    failed.result = "ConnectFailed";
    failed.endText = "Can't connect to MySQL server";
    failed.cause = "Access denied for user 'backup'@'10.0.0.7' (using password: YES)";
    failed.archiveChecked = false;
    shop.startedAt += 3660;
    shop.verified = "differs";
    shop.verifyDetail = "line 12 of the archived dump";
    shop.pruned = "shop-20240501T060100Z.zip\nshop-20240502T060100Z.zip";
    shop.offsite = kOffsiteFailed;
    shop.offsiteDetail = "not sent: shop-20240503T060100Z.zip\nconnection refused";
    store->AppendHistory(shop);
    store->AppendHistory(failed);
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
                     "shop-20240502T060100Z.zip\nOff-site: failed\n"
                     "not sent: shop-20240503T060100Z.zip\nconnection refused"));
    QCOMPARE(shown->index(0, HistoryModel::kOffsite).data().toString(), QString("failed"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::HistoryWindowTest)
#include "history_window_test.moc"
