// The main window's menu bar and context menus, and the windows they open:
// Restore, History and Settings of the selected connection, and About. The
// bar sits above the template's controls, which keep their places and sizes
// relative to one another: the window grows by the bar's height.

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include "common/version.h"
#include "desktop/history_window.h"
#include "desktop/main_dialog_template.h"
#include "desktop/main_dlg.h"
#include "desktop/restore_window.h"
#include "desktop/settings_window.h"
#include "desktop/start_at_login.h"

namespace vaultwick {

namespace {

constexpr const char* kAboutText =
    "<b>Tessaly Vaultwick</b><p>Keeps copies of MySQL and MariaDB databases: a plain SQL dump "
    "of each database, packed into a ZIP archive, with restore points kept by a policy of "
    "your choosing.</p><p>Version %1</p>";

}  // namespace

void CMainDlg::BuildMenus() {
  menuBar_ = new QMenuBar(this);
  QMenu* connection = menuBar_->addMenu(QStringLiteral("&Connection"));
  restoreAction_ =
      connection->addAction(QStringLiteral("&Restore..."), this, &CMainDlg::OnRestoreWindow);
  historyAction_ =
      connection->addAction(QStringLiteral("&History..."), this, &CMainDlg::OnHistoryWindow);
  settingsAction_ =
      connection->addAction(QStringLiteral("&Settings..."), this, &CMainDlg::OnSettingsWindow);
  QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&About"), this, &CMainDlg::OnAbout);

  const int barHeight = menuBar_->sizeHint().height();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child != menuBar_ && !child->isWindow()) {
      child->move(child->pos() + QPoint(0, barHeight));
    }
  }
  setFixedSize(width(), height() + barHeight);
  menuBar_->setGeometry(0, 0, width(), barHeight);

  connectionList_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(connectionList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (QListWidgetItem* item = connectionList_->itemAt(at)) {
      connectionList_->setCurrentItem(item);
    }
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions({restoreAction_, historyAction_, settingsAction_});
    menu->popup(connectionList_->viewport()->mapToGlobal(at));
  });
}

QMenu* CMainDlg::MakeTrayMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("&Open"), this, &CMainDlg::RestoreFromTray);
  menu->addAction(QStringLiteral("&History..."), this, &CMainDlg::OnHistoryWindow);
  QAction* startAtLogin = menu->addAction(QStringLiteral("Start at &login"));
  startAtLogin->setCheckable(true);
  // The entry may have been changed by the settings window or by hand.
  connect(menu, &QMenu::aboutToShow, startAtLogin,
          [startAtLogin] { startAtLogin->setChecked(StartsAtLogin()); });
  connect(startAtLogin, &QAction::triggered, this, [this, startAtLogin](bool on) {
    QString error;
    if (!SetStartAtLogin(on, QCoreApplication::applicationFilePath(), &error)) {
      startAtLogin->setChecked(!on);
      auto* box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), error,
                                  QMessageBox::Ok, this);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
    }
  });
  menu->addSeparator();
  menu->addAction(QStringLiteral("E&xit"), this, [this] {
    RestoreFromTray();
    OnCancel();
  });
  return menu;
}

void CMainDlg::UpdateMenuActions() {
  const bool selected = !connectionList_->selectedItems().isEmpty();
  restoreAction_->setEnabled(selected);
  settingsAction_->setEnabled(selected);
}

QString CMainDlg::SelectedConnection() const {
  const QList<QListWidgetItem*> selected = connectionList_->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

void CMainDlg::OnRestoreWindow() {
  const QString name = SelectedConnection();
  if (name.isEmpty()) {
    return;
  }
  auto* window = new RestoreWindow(store_, clock_, name, this);
  window->show();
}

void CMainDlg::OnHistoryWindow() {
  if (historyWindow_ == nullptr) {
    historyWindow_ = new HistoryWindow(store_, clock_, SelectedConnection(), this);
    historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
  } else {
    historyWindow_->Reload();
    historyWindow_->ShowConnection(SelectedConnection());
  }
  historyWindow_->show();
  historyWindow_->raise();
  historyWindow_->activateWindow();
}

void CMainDlg::OnSettingsWindow() {
  const QString name = SelectedConnection();
  if (name.isEmpty()) {
    return;
  }
  auto* window = new SettingsWindow(store_, name, this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->open();
}

void CMainDlg::OnAbout() {
  auto* about =
      new QMessageBox(QMessageBox::Information, QStringLiteral("About Tessaly Vaultwick"),
                      QString::fromLatin1(kAboutText).arg(QString::fromLatin1(kVaultwickVersion)),
                      QMessageBox::Ok, this);
  about->setIconPixmap(appIcon.pixmap(64, 64));
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

}  // namespace vaultwick
