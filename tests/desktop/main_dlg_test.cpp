// The main window against a settings store of its own: layout from the
// template, the enable rule, the connection actions with their messages, the
// start-hour check, the target folder check, tray and scheduler, and the exit.

#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/history_window.h"
#include "desktop/restore_window.h"
#include "desktop/settings_window.h"
#include "desktop/start_at_login.h"
#include "shell/connections.h"
#include "shell/target_folder.h"
#include "tests/desktop/desktop_test_support.h"

namespace vaultwick::test {

namespace {

const int kDetailIds[] = {kNameEditId,      kHostEditId,         kLoginEditId,  kPasswordEditId,
                          kStartHourEditId, kDatabaseEditId,     kPeriodListId, kRemoveButtonId,
                          kApplyButtonId,   kDownloadNowButtonId};

QStringList ListTexts(QListWidget* list) {
  QStringList texts;
  for (int row = 0; row < list->count(); ++row) {
    texts.append(list->item(row)->text());
  }
  return texts;
}

QStringList ActionTexts(const QList<QAction*>& actions) {
  QStringList texts;
  for (const QAction* action : actions) {
    texts.append(action->text());
  }
  return texts;
}

// The windows of type T the main window has opened. The window classes have
// no meta-object of their own, so findChildren cannot tell them apart.
template <typename T>
QList<T*> OpenWindows(CMainDlg& dialog) {
  QList<T*> found;
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (auto* window = dynamic_cast<T*>(child)) {
      found.append(window);
    }
  }
  return found;
}

}  // namespace

class MainDlgTest : public QObject {
  Q_OBJECT

  // Where "Start at login" writes its entry, instead of the user's own.
  QTemporaryDir config_;

 private slots:
  void initTestCase() { qputenv("XDG_CONFIG_HOME", config_.path().toUtf8()); }

  void StartsEmptyWithTheDetailsDisabled() {
    MainWindowUnderTest window;
    CMainDlg& dialog = window.Open();
    QCOMPARE(dialog.windowTitle(), QString("Tessaly Vaultwick"));
    QCOMPARE(window.Control<QListWidget>(kConnectionListId)->count(), 0);
    for (int id : kDetailIds) {
      QVERIFY2(!window.Control<QWidget>(id)->isEnabled(), qPrintable(QString::number(id)));
    }
    for (int id : {kConnectionListId, kAddButtonId, kSaveToEditId, kBrowseButtonId}) {
      QVERIFY(window.Control<QWidget>(id)->isEnabled());
    }
    QCOMPARE(window.Control<QLineEdit>(kSaveToEditId)->text(), QString());
    QCOMPARE(window.Control<QLineEdit>(kStartMinuteEditId)->text(), QString("00"));
    QVERIFY(!window.Control<QLineEdit>(kStartMinuteEditId)->isEnabled());
    auto* period = window.Control<QComboBox>(kPeriodListId);
    QCOMPARE(period->currentText(), QString("1"));
    QVERIFY(!period->isEditable());
    QStringList periods;
    for (int i = 0; i < period->count(); ++i) {
      periods.append(period->itemText(i));
    }
    QCOMPARE(periods, QStringList({"1", "2", "3", "4", "6", "8", "12", "24"}));
    QCOMPARE(window.Control<QLineEdit>(kPasswordEditId)->echoMode(), QLineEdit::Password);
    const int limits[][2] = {{kNameEditId, 100},    {kHostEditId, 100},     {kLoginEditId, 32},
                             {kPasswordEditId, 32}, {kDatabaseEditId, 100}, {kStartHourEditId, 2}};
    for (const auto& [id, limit] : limits) {
      QCOMPARE(window.Control<QLineEdit>(id)->maxLength(), limit);
    }
  }

  // Positions in pixels from dialog units: a quarter of the average letter
  // width across, an eighth of the line height down, each edge rounded,
  // below the menu bar.
  void LaysOutTheTemplateInDialogUnits() {
    MainWindowUnderTest window;
    CMainDlg& dialog = window.Open();
    const QFontMetrics metrics(dialog.font());
    const int baseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
         1) /
        2;
    const int baseY = metrics.height();
    auto x = [&](int units) { return (units * baseX + 2) / 4; };
    auto y = [&](int units) { return (units * baseY + 4) / 8; };
    // The menu bar sits above the template, which moves down by its height.
    const int bar = dialog.MenuBar()->height();
    QVERIFY(bar > 0);
    QCOMPARE(dialog.MenuBar()->geometry(), QRect(0, 0, dialog.width(), bar));
    auto rect = [&](int left, int top, int width, int height) {
      return QRect(QPoint(x(left), y(top) + bar),
                   QPoint(x(left + width) - 1, y(top + height) - 1 + bar));
    };
    QCOMPARE(dialog.size(), QSize(x(309), y(214) + bar));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(window.Control<QWidget>(kConnectionListId)->geometry(), rect(11, 52, 90, 105));
    QCOMPARE(window.Control<QWidget>(kDownloadNowButtonId)->geometry(), rect(235, 144, 59, 13));
    QCOMPARE(window.Control<QWidget>(kDatabaseEditId)->geometry(), rect(168, 104, 96, 12));
    QCOMPARE(window.Control<QWidget>(kBannerPictureId)->geometry(), rect(5, 5, 299, 31));

    // The tab order is the template's order.
    const int tabOrder[] = {kConnectionListId,    kAddButtonId,       kRemoveButtonId,
                            kNameEditId,          kHostEditId,        kLoginEditId,
                            kPasswordEditId,      kStartHourEditId,   kPeriodListId,
                            kDownloadNowButtonId, kApplyButtonId,     kSaveToEditId,
                            kBrowseButtonId,      kStartMinuteEditId, kDatabaseEditId};
    QWidget* widget = window.Control<QWidget>(tabOrder[0]);
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
      widget = widget->nextInFocusChain();
      while (!(widget->focusPolicy() & Qt::TabFocus) || widget->parentWidget() != &dialog) {
        widget = widget->nextInFocusChain();
      }
      QCOMPARE(widget->objectName(), QString::number(tabOrder[i]));
    }
  }

  void EnterDoesNothingAndEscapeEnds() {
    MainWindowUnderTest window;
    CMainDlg& dialog = window.Open();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(window.Control<QLineEdit>(kSaveToEditId), Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!dialog.isVisible());
  }

  void AddSelectApplyRemove() {
    MainWindowUnderTest window;
    window.Open();
    auto* list = window.Control<QListWidget>(kConnectionListId);
    window.Control<QPushButton>(kAddButtonId)->click();
    window.Control<QPushButton>(kAddButtonId)->click();
    QCOMPARE(ListTexts(list), QStringList({"New Connection", "New Connection 0"}));
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(!window.Control<QWidget>(kNameEditId)->isEnabled());

    window.Select("New Connection");
    for (int id : kDetailIds) {
      QVERIFY(window.Control<QWidget>(id)->isEnabled());
    }
    QCOMPARE(window.Control<QLineEdit>(kHostEditId)->text(), QString("Host Name"));
    QCOMPARE(window.Control<QLineEdit>(kLoginEditId)->text(), QString("Login"));
    QCOMPARE(window.Control<QLineEdit>(kPasswordEditId)->text(), QString());
    QCOMPARE(window.Control<QLineEdit>(kDatabaseEditId)->text(), QString("Database"));
    QCOMPARE(window.Control<QLineEdit>(kStartHourEditId)->text(), QString("0"));

    window.Control<QLineEdit>(kNameEditId)->setText("shop");
    window.Control<QLineEdit>(kHostEditId)->setText("db.example:3307");
    window.Control<QLineEdit>(kStartHourEditId)->setText("5");
    window.Control<QComboBox>(kPeriodListId)->setCurrentText("6");
    window.Control<QPushButton>(kApplyButtonId)->click();
    QCOMPARE(TakeMessages(&window.dialog()), QStringList());
    QCOMPARE(ListTexts(list), QStringList({"New Connection 0", "shop"}));
    QCOMPARE(list->currentItem()->text(), QString("shop"));
    const ConnectionProfile stored = *LoadConnection(window.store(), "shop");
    QCOMPARE(stored.server.host, std::string("db.example:3307"));
    QCOMPARE(stored.startHour, 5);
    QCOMPARE(stored.periodHours, 6);

    // Taking another connection's name is refused and changes nothing; the
    // next Apply still replaces the connection shown, not a second one.
    window.Control<QLineEdit>(kNameEditId)->setText("new connection 0");
    window.Control<QPushButton>(kApplyButtonId)->click();
    QCOMPARE(TakeMessages(&window.dialog()),
             QStringList({"Connection with such name already exists"}));
    QCOMPARE(ListConnections(window.store()),
             std::vector<std::string>({"New Connection 0", "shop"}));
    window.Control<QLineEdit>(kNameEditId)->setText("Shop floor");
    window.Control<QPushButton>(kApplyButtonId)->click();
    QCOMPARE(ListConnections(window.store()),
             std::vector<std::string>({"New Connection 0", "Shop floor"}));

    // After Remove nothing is selected, although "Shop floor" begins with
    // the name of the one removed.
    window.Control<QPushButton>(kAddButtonId)->click();
    window.Select("New Connection");
    window.Control<QLineEdit>(kNameEditId)->setText("Shop");
    window.Control<QPushButton>(kApplyButtonId)->click();
    QCOMPARE(list->currentItem()->text(), QString("Shop"));
    window.Control<QPushButton>(kRemoveButtonId)->click();
    QCOMPARE(ListTexts(list), QStringList({"New Connection 0", "Shop floor"}));
    QVERIFY(list->selectedItems().isEmpty());
    for (int id : kDetailIds) {
      QVERIFY(!window.Control<QWidget>(id)->isEnabled());
    }
    QCOMPARE(window.Control<QLineEdit>(kNameEditId)->text(), QString());
    QCOMPARE(window.Control<QLineEdit>(kHostEditId)->text(), QString());
  }

  void StartHourOutsideTheDayIsRefused() {
    MainWindowUnderTest window;
    (void)AddConnectionNamed(window.store(), "shop");
    window.Open();
    window.Select("shop");
    auto* startHour = window.Control<QLineEdit>(kStartHourEditId);
    startHour->clear();
    QTest::keyClicks(startHour, "1x234");
    QCOMPARE(startHour->text(), QString("12"));
    for (const char* typed : {"24", ""}) {
      startHour->setText(typed);
      window.Control<QLineEdit>(kHostEditId)->setText("changed");
      window.Control<QPushButton>(kApplyButtonId)->click();
      QCOMPARE(TakeMessages(&window.dialog()),
               QStringList({"Please enter an integer between 0 and 23."}));
      QCOMPARE(LoadConnection(window.store(), "shop")->server.host, std::string("Host Name"));
    }
  }

  void ConnectionGoneFromTheStoreCannotBeLoaded() {
    MainWindowUnderTest window;
    (void)AddConnectionNamed(window.store(), "shop");
    window.Open();
    RemoveConnection(window.store(), "shop");
    window.Select("shop");
    QCOMPARE(TakeMessages(&window.dialog()), QStringList({"Error accessing registry"}));
  }

  // A period the list does not offer leaves the list as it was.
  void PeriodIsSelectedByPrefix() {
    MainWindowUnderTest window;
    ConnectionRow odd;
    odd.name = "odd";
    odd.period = 5;
    window.store().InsertConnection(odd);
    ConnectionRow twelve;
    twelve.name = "twelve";
    twelve.period = 12;
    window.store().InsertConnection(twelve);
    window.Open();
    window.Select("twelve");
    QCOMPARE(window.Control<QComboBox>(kPeriodListId)->currentText(), QString("12"));
    window.Select("odd");
    QCOMPARE(window.Control<QComboBox>(kPeriodListId)->currentText(), QString("12"));
  }

  void TargetFolderIsCheckedAndSavedAtOnce() {
    QString chosen;
    MainWindowUnderTest window(false, [&](QWidget*, const QString&) { return chosen; });
    window.Open();
    auto* saveTo = window.Control<QLineEdit>(kSaveToEditId);
    auto leaveField = [&](const QString& text) {
      window.dialog().activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&window.dialog()));
      saveTo->setFocus();
      saveTo->setText(text);
      window.Control<QPushButton>(kBrowseButtonId)->setFocus();
      QCoreApplication::processEvents();
    };
    // Empty with nothing held before: refused, every time.
    leaveField("");
    QCOMPARE(TakeMessages(&window.dialog()),
             QStringList({"Target directory does not exist and could not be created"}));

    const QString made = window.Path("made");
    leaveField(made);
    QCOMPARE(TakeMessages(&window.dialog()), QStringList());
    QVERIFY(QDir(made).exists());
    QCOMPARE(LoadTargetFolder(window.store()), made.toStdString());

    leaveField(window.Path("missing/below"));
    QCOMPARE(TakeMessages(&window.dialog()).size(), 1);
    QCOMPARE(saveTo->text(), made);
    QCOMPARE(LoadTargetFolder(window.store()), made.toStdString());

    chosen = window.Path("chosen");
    window.Control<QPushButton>(kBrowseButtonId)->click();
    QCOMPARE(saveTo->text(), chosen);
    QCOMPARE(LoadTargetFolder(window.store()), chosen.toStdString());
    // Cancelled: the folder held is checked again (and made again).
    QDir(chosen).removeRecursively();
    chosen.clear();
    window.Control<QPushButton>(kBrowseButtonId)->click();
    QVERIFY(QDir(window.Path("chosen")).exists());
    QCOMPARE(TakeMessages(&window.dialog()), QStringList());
  }

  void MinimisedToTheTrayTheSchedulerRuns() {
    MainWindowUnderTest window(true);
    (void)AddConnectionNamed(window.store(), "b");
    (void)AddConnectionNamed(window.store(), "a");
    CMainDlg& dialog = window.Open();
    dialog.showMinimized();
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(dialog.TrayIcon() != nullptr && dialog.TrayIcon()->isVisible());
    QCOMPARE(dialog.TrayIcon()->toolTip(), QString("Corvane tool"));
    QVERIFY(dialog.SchedulerRunning());
    QCOMPARE(dialog.ScheduledNames(), QStringList({"a", "b"}));
    for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick}) {
      emit dialog.TrayIcon()->activated(reason);
      QVERIFY(!dialog.isVisible());
    }
    emit dialog.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.isMinimized());
    QVERIFY(!dialog.TrayIcon()->isVisible());
    QVERIFY(!dialog.SchedulerRunning());
  }

  // The menu bar and the list's context menu act on the selected connection;
  // History opens one window however often it is asked for.
  void MenusOpenTheWindowsOfTheSelectedConnection() {
    MainWindowUnderTest window;
    (void)AddConnectionNamed(window.store(), "shop");
    CMainDlg& dialog = window.Open();
    const QList<QAction*> menus = dialog.MenuBar()->actions();
    QCOMPARE(ActionTexts(menus), QStringList({"&Connection", "&Help"}));
    const QList<QAction*> connection = menus[0]->menu()->actions();
    QCOMPARE(ActionTexts(connection), QStringList({"&Restore...", "&History...", "&Settings..."}));
    QCOMPARE(ActionTexts(menus[1]->menu()->actions()), QStringList({"&About"}));
    QVERIFY(!connection[0]->isEnabled());
    QVERIFY(connection[1]->isEnabled());
    QVERIFY(!connection[2]->isEnabled());

    window.Select("shop");
    QVERIFY(connection[0]->isEnabled() && connection[2]->isEnabled());
    connection[0]->trigger();
    QCOMPARE(OpenWindows<RestoreWindow>(dialog).size(), 1);
    QCOMPARE(OpenWindows<RestoreWindow>(dialog).first()->windowTitle(), QString("Restore shop"));
    connection[1]->trigger();
    connection[1]->trigger();
    QCOMPARE(OpenWindows<HistoryWindow>(dialog).size(), 1);
    connection[2]->trigger();
    QCOMPARE(OpenWindows<SettingsWindow>(dialog).size(), 1);
  }

  // The tray's menu: Open brings the window back, Start at login writes and
  // removes the autostart entry, Exit ends the program as the close box does.
  void TrayMenuOpensAndExits() {
    MainWindowUnderTest window(true);
    CMainDlg& dialog = window.Open();
    dialog.showMinimized();
    QTRY_VERIFY(!dialog.isVisible());
    const QList<QAction*> entries = dialog.TrayMenu()->actions();
    QCOMPARE(ActionTexts(entries),
             QStringList({"&Open", "&History...", "Start at &login", "", "E&xit"}));
    QVERIFY(!StartsAtLogin());
    entries[2]->trigger();
    QVERIFY(entries[2]->isChecked() && StartsAtLogin());
    entries[2]->trigger();
    QVERIFY(!entries[2]->isChecked() && !StartsAtLogin());
    entries[0]->trigger();
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.SchedulerRunning());
    dialog.showMinimized();
    QTRY_VERIFY(!dialog.isVisible());
    QSignalSpy finished(&dialog, &QDialog::finished);
    entries[4]->trigger();
    QCOMPARE(finished.size(), 1);
  }

  // --tray: the program starts as a minimise leaves it.
  void StartsInTheTray() {
    MainWindowUnderTest window(true);
    (void)AddConnectionNamed(window.store(), "shop");
    CMainDlg& dialog = window.OpenInTray();
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(dialog.TrayIcon()->isVisible());
    QVERIFY(dialog.SchedulerRunning());
    QCOMPARE(dialog.ScheduledNames(), QStringList({"shop"}));
  }

  // Without a tray the window must stay reachable: it stays minimised in the
  // task bar while the scheduler runs, and restoring it stops the scheduler.
  void WithoutATrayTheWindowStaysInTheTaskBar() {
    MainWindowUnderTest window(false);
    CMainDlg& dialog = window.Open();
    dialog.showMinimized();
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.isMinimized());
    QVERIFY(dialog.TrayIcon() == nullptr);
    QVERIFY(dialog.SchedulerRunning());
    dialog.showNormal();
    QVERIFY(!dialog.SchedulerRunning());
  }

  // No is a way back; Yes asks the job to stop and ends once it has.
  void ExitAsksWhileAJobRuns() {
    MainWindowUnderTest window;
    auto echo = std::make_shared<HoldingStatusEcho>("Connecting...");
    EchoDownloadNow(window.options(), echo);
    const QString folder = window.Path("target");
    QDir().mkpath(folder);
    SaveTargetFolder(window.store(), folder.toStdString());
    ConnectionProfile shop{"shop", {"127.0.0.1:1", "nobody", "", "shop", {}, {}}, 0, 1};
    (void)AddConnectionNamed(window.store(), "shop");
    (void)ApplyConnectionChanges(window.store(), "shop", shop);
    CMainDlg& dialog = window.Open();
    window.Select("shop");
    window.Control<QPushButton>(kDownloadNowButtonId)->click();
    QVERIFY(echo->WaitUntilHeld(10'000));

    SaveTargetFolder(window.store(), "elsewhere");
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.close();
    QList<QMessageBox*> question = OpenMessageBoxes(&dialog);
    QCOMPARE(question.size(), 1);
    QCOMPARE(question[0]->text(), QString("Backup in progress.\nExit program?"));
    question[0]->button(QMessageBox::No)->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(LoadTargetFolder(window.store()), folder.toStdString());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    question = OpenMessageBoxes(&dialog);
    QCOMPARE(question.size(), 1);
    question[0]->button(QMessageBox::Yes)->click();
    QCOMPARE(finished.count(), 0);
    echo->Release();
    QVERIFY(finished.wait(10'000));
    QCOMPARE(dialog.Runner().RunningJobCount(), 0);
    QCOMPARE(echo->Texts().back(), std::string("Error occured"));
  }
};

}  // namespace vaultwick::test

QTEST_MAIN(vaultwick::test::MainDlgTest)
#include "main_dlg_test.moc"
