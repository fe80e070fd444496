// "Start at login": the autostart entry it writes is one the desktop's own
// validator accepts, starts the program named with --tray whatever its path
// holds, goes again when unticked, and a refusal is reported, not ignored.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/start_at_login.h"

namespace vaultwick::test {

class StartAtLoginTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    config_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", config_->path().toUtf8());
  }

  void TickedWritesAValidEntryAndUntickedRemovesIt() {
    QString error;
    QVERIFY(!StartsAtLogin());
    QVERIFY(SetStartAtLogin(true, QStringLiteral("/opt/my apps/vw$1"), &error));
    QCOMPARE(StartAtLoginEntryPath(), config_->path() + "/autostart/vaultwick-desktop.desktop");
    QVERIFY(StartsAtLogin());

    QFile entry(StartAtLoginEntryPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("\nExec=\"/opt/my apps/vw\\\\$1\" --tray\n"));
    QProcess validator;
    validator.start(QStringLiteral("desktop-file-validate"), {StartAtLoginEntryPath()});
    QVERIFY(validator.waitForFinished());
    QCOMPARE(validator.exitCode(), 0);

    QVERIFY(SetStartAtLogin(false, QString(), &error));
    QVERIFY(!StartsAtLogin());
    QVERIFY(SetStartAtLogin(false, QString(), &error));
  }

  void AFolderThatCannotBeMadeIsReported() {
    QFile blocker(config_->path() + "/autostart");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(!SetStartAtLogin(true, QStringLiteral("/usr/bin/vaultwick-desktop"), &error));
    QVERIFY2(error.contains(config_->path() + "/autostart"), qPrintable(error));
    QVERIFY(!StartsAtLogin());
  }

 private:
  std::unique_ptr<QTemporaryDir> config_;
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::StartAtLoginTest)
#include "start_at_login_test.moc"
