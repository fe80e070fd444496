#include "desktop/main_app.h"

#include <QCommandLineParser>
#include <QMessageBox>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <memory>

#include "backup/run_backup_job.h"
#include "common/version.h"
#include "desktop/main_dlg.h"
#include "desktop/progress_window.h"
#include "platform/settings_store.h"

namespace vaultwick {

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("vaultwick-desktop"));
  setApplicationDisplayName(QStringLiteral("Tessaly Vaultwick"));
  setApplicationVersion(QString::fromLatin1(kVaultwickVersion));
  setDesktopFileName(QStringLiteral("vaultwick-desktop"));
  // One look on every desktop, the one the dialog templates were drawn for.
  setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // Hiding the main window in the tray must not end the program.
  setQuitOnLastWindowClosed(false);
}

int CMainApp::InitInstance() {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Keeps copies of MySQL and MariaDB databases."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption storeOption(QStringLiteral("store"),
                                       QStringLiteral("The settings store to use."),
                                       QStringLiteral("path"));
  const QCommandLineOption trayOption(QStringLiteral("tray"),
                                      QStringLiteral("Start hidden in the tray (for login)."));
  parser.addOption(storeOption);
  parser.addOption(trayOption);
  parser.process(*this);

  std::unique_ptr<SettingsStore> store;
  try {
    store = OpenUserSettingsStore(parser.value(storeOption).toStdString());
  } catch (const SettingsStoreError& error) {
    QMessageBox::critical(nullptr, applicationName(), QString::fromStdString(error.what()));
    return 1;
  }
  runningJobs.store(0);
  openProgressWindows = 0;

  MainDlgOptions options;
  options.store = store.get();
  options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  int status = 0;
  {
    CMainDlg dialog(options);
    connect(&dialog, &QDialog::finished, this, &QCoreApplication::quit);
    if (parser.isSet(trayOption)) {
      dialog.StartInTray();
    } else {
      dialog.show();
    }
    status = exec();
    CFtpDown::CloseAll();
    sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return status;
}

}  // namespace vaultwick
