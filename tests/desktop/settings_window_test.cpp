// The settings window of one connection: it shows what is stored, stores
// what is set, and refuses what the command line refuses, keeping nothing of
// a refused save.

#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/alerts_section.h"
#include "desktop/encryption_section.h"
#include "desktop/offsite_section.h"
#include "desktop/settings_sections.h"
#include "desktop/settings_window.h"
#include "desktop/start_at_login.h"
#include "shell/alert_settings.h"
#include "shell/connections.h"
#include "shell/offsite_settings.h"
#include "shell/scheduler.h"
#include "tests/desktop/desktop_test_support.h"

namespace vaultwick::test {

class SettingsWindowTest : public QObject {
  Q_OBJECT

 private:
  // A folder of its own for each test function.
  std::optional<QTemporaryDir> folder_;

  std::unique_ptr<SettingsStore> MakeStore() {
    auto store = SettingsStore::Open(folder_->filePath("s.sqlite").toStdString());
    (void)AddConnectionNamed(*store, "shop");
    ConnectionProfile profile{"shop", {"db", "backup", "", "sales", {}, {}}, 2, 24};
    (void)ApplyConnectionChanges(*store, "shop", profile);
    return store;
  }

  template <typename T>
  static T* Section(SettingsWindow& window) {
    for (SettingsSection* section : window.Sections()) {
      if (auto* found = dynamic_cast<T*>(section)) {
        return found;
      }
    }
    return nullptr;
  }

 private slots:
  void init() {
    folder_.emplace();
    qputenv("XDG_CONFIG_HOME", folder_->path().toUtf8());
  }

  void ShowsAndStoresTheKeepPolicyAndTestRestore() {
    auto store = MakeStore();
    SettingsWindow window(*store, "shop");
    auto* keep = Section<KeepPolicySection>(window);
    auto* test = Section<TestRestoreSection>(window);
    QCOMPARE(keep->Daily()->value(), 7);
    QCOMPARE(keep->Monthly()->value(), 6);
    QVERIFY(!test->Enabled()->isChecked());
    QVERIFY(!test->ScratchDatabase()->isEnabled());
    QCOMPARE(keep->Hourly()->maximum(), 1000);

    keep->Hourly()->setValue(24);
    keep->Weekly()->setValue(0);
    test->Enabled()->setChecked(true);
    test->ScratchDatabase()->setText("sales_check");
    window.accept();
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(LoadKeepPolicy(*store, "shop"), (KeepPolicy{24, 7, 0, 6}));
    QCOMPARE(ReadStoredConnection(*store, "shop")->verifyRestore, std::string("sales_check"));
  }

  // Turning encryption on shows the password it will use before anything is
  // kept, and keeps exactly that one; it is hidden until asked for.
  void EncryptionShowsThePasswordItKeeps() {
    auto store = MakeStore();
    std::string made;
    {
      SettingsWindow window(*store, "shop");
      auto* encryption = Section<EncryptionSection>(window);
      QVERIFY(!encryption->Encrypt()->isChecked());
      QVERIFY(!encryption->ShowPassword()->isEnabled());
      encryption->Encrypt()->setChecked(true);
      made = encryption->Password()->text().toStdString();
      QCOMPARE(made.size(), std::size_t{34});
      QCOMPARE(encryption->Password()->echoMode(), QLineEdit::Password);
      QTest::mouseClick(encryption->ShowPassword(), Qt::LeftButton);
      QCOMPARE(encryption->Password()->echoMode(), QLineEdit::Normal);
      QVERIFY(window.Save());
    }
    const std::optional<StoredConnection> stored = ReadStoredConnection(*store, "shop");
    QVERIFY(stored->encryptArchives);
    QCOMPARE(stored->archivePassword, made);

    // Off keeps the password for the archives already made.
    SettingsWindow window(*store, "shop");
    Section<EncryptionSection>(window)->Encrypt()->setChecked(false);
    QVERIFY(window.Save());
    QVERIFY(!ReadStoredConnection(*store, "shop")->encryptArchives);
    QCOMPARE(ReadStoredConnection(*store, "shop")->archivePassword, made);
  }

  // Start at login is the autostart entry's presence, shown and kept as the
  // tray menu keeps it; a refused save writes no entry.
  void StartAtLoginWritesTheAutostartEntryWhenSaved() {
    auto store = MakeStore();
    {
      SettingsWindow window(*store, "shop");
      auto* login = Section<StartAtLoginSection>(window)->StartAtLogin();
      QVERIFY(!login->isChecked());
      login->setChecked(true);
      QVERIFY(!StartsAtLogin());
      QVERIFY(window.Save());
      QVERIFY(StartsAtLogin());
    }
    SettingsWindow window(*store, "shop");
    window.show();
    QVERIFY(Section<StartAtLoginSection>(window)->StartAtLogin()->isChecked());
    Section<StartAtLoginSection>(window)->StartAtLogin()->setChecked(false);
    Section<TestRestoreSection>(window)->Enabled()->setChecked(true);
    QVERIFY(!window.Save());
    (void)TakeMessages(&window);
    QVERIFY(StartsAtLogin());
  }

  // The connection's own database as the scratch database is refused, and
  // the keep policy changed in the same save is not kept either.
  void ARefusedSaveKeepsNothing() {
    auto store = MakeStore();
    SettingsWindow window(*store, "shop");
    window.show();
    Section<KeepPolicySection>(window)->Daily()->setValue(1);
    auto* test = Section<TestRestoreSection>(window);
    test->Enabled()->setChecked(true);
    test->ScratchDatabase()->setText("SALES");
    QVERIFY(!window.Save());
    QCOMPARE(TakeMessages(&window),
             QStringList({"The scratch database of a test restore must be named, and must not be "
                          "the database backed up"}));
    QCOMPARE(LoadKeepPolicy(*store, "shop"), KeepPolicy{});
    QCOMPARE(ReadStoredConnection(*store, "shop")->verifyRestore, std::string());
  }

  // The alerts are the store's, shown in every connection's window; Test
  // sends what the fields show, off the window's thread, and says what each
  // channel made of it.
  void ShowsStoresAndTestsTheAlerts() {
    auto store = MakeStore();
    AlertSettings stored;
    stored.webhook = "https://chat.example/hook";
    stored.webhookHeaders = {"Authorization: Bearer x"};
    SaveAlertSettings(*store, stored);
    SettingsWindow window(*store, "shop");
    window.show();
    auto* alerts = Section<AlertsSection>(window);
    QCOMPARE(alerts->Webhook()->text(), QString("https://chat.example/hook"));
    QCOMPARE(alerts->WebhookHeaders()->toPlainText(), QString("Authorization: Bearer x"));
    QCOMPARE(alerts->MaxParallel()->value(), Scheduler::kDefaultMaxParallel);

    alerts->Webhook()->clear();
    alerts->Command()->setText("echo refused >&2; exit 3");
    alerts->TestButton()->click();
    QTRY_COMPARE(alerts->TestResult()->text(),
                 QString("Command: the command exited with status 3: refused"));
    alerts->Command()->setText("test \"$VAULTWICK_EVENT\" = test");
    alerts->TestButton()->click();
    QTRY_COMPARE(alerts->TestResult()->text(), QString("Command: took the test alert"));

    alerts->When()->setCurrentIndex(1);
    alerts->MaxParallel()->setValue(4);
    QVERIFY(window.Save());
    QCOMPARE(LoadAlertSettings(*store).command, std::string("test \"$VAULTWICK_EVENT\" = test"));
    QCOMPARE(LoadAlertSettings(*store).webhook, std::string());
    QVERIFY(LoadAlertSettings(*store).when == AlertWhen::Always);
    QCOMPARE(LoadMaxParallel(*store), 4);

    alerts->Webhook()->setText("ftp://chat.example/");
    QVERIFY(!window.Save());
    QCOMPARE(TakeMessages(&window).size(), 1);
    QCOMPARE(LoadAlertSettings(*store).webhook, std::string());
  }

  // The off-site remote is the store's: the window warns while a connection
  // sends readable archives, checks what the fields show with the real
  // rclone off the window's thread, and refuses a configuration file that is
  // not there.
  void ShowsChecksAndStoresTheOffsiteRemote() {
    auto store = MakeStore();
    QVERIFY(
        SaveOffsiteSettings(*store, {":local:" + folder_->filePath("vault").toStdString(), ""}));
    SettingsWindow window(*store, "shop");
    window.show();
    auto* offsite = Section<OffsiteSection>(window);
    QVERIFY(!offsite->Warning()->isHidden());
    QVERIFY(offsite->Warning()->text().contains("shop"));

    offsite->Remote()->setText("nowhere:vault");
    offsite->CheckButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(offsite->CheckButton()->isEnabled(), 60000);
    QVERIFY(offsite->CheckResult()->text().contains("didn't find section in config file"));
    offsite->Remote()->setText(":local:" + folder_->filePath("elsewhere"));
    offsite->CheckButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(offsite->CheckButton()->isEnabled(), 60000);
    QCOMPARE(offsite->CheckResult()->text().left(16), QString("The remote works"));

    QVERIFY(window.Save());
    QCOMPARE(LoadOffsiteSettings(*store).remote,
             ":local:" + folder_->filePath("elsewhere").toStdString());
    offsite->ConfigFile()->setText(folder_->filePath("no-such.conf"));
    QVERIFY(!window.Save());
    QCOMPARE(TakeMessages(&window).size(), 1);
    QCOMPARE(LoadOffsiteSettings(*store).configFile, std::string());
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::SettingsWindowTest)
#include "settings_window_test.moc"
