#include "desktop/main_dlg.h"

// The main window's connection actions: the list, Add, select, Remove and
// Apply changes, each through the shell's connection operations.

#include <QSignalBlocker>

#include "desktop/main_dialog_template.h"
#include "shell/connections.h"

namespace vaultwick {

namespace {

QString FromStd(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void CMainDlg::FillConnectionList() {
  {
    const QSignalBlocker quiet(connectionList_);
    connectionList_->clear();
    WithStore([this] {
      for (const std::string& name : ListConnections(store_)) {
        connectionList_->addItem(FromStd(name));
      }
    });
  }
  UpdateDetailControls();
}

void CMainDlg::OnAdd() {
  std::string added;
  if (!WithStore([&] { added = AddConnection(store_); })) {
    return;
  }
  // The list stays sorted without regard to letter case; the selection and
  // the details do not change.
  const QString name = FromStd(added);
  int row = 0;
  while (row < connectionList_->count() &&
         QString::compare(connectionList_->item(row)->text(), name, Qt::CaseInsensitive) < 0) {
    ++row;
  }
  const QSignalBlocker quiet(connectionList_);
  connectionList_->insertItem(row, name);
}

// Unapplied edits of the connection shown before are dropped, so the fields
// are not checked here; only the selected name is taken.
void CMainDlg::OnSelectConnection() {
  UpdateDetailControls();
  const QList<QListWidgetItem*> selected = connectionList_->selectedItems();
  if (selected.isEmpty()) {
    return;
  }
  selectedName = selected.first()->text();
  nameText = selectedName;
  std::optional<ConnectionProfile> profile;
  if (!WithStore([&] { profile = LoadConnection(store_, nameText.toStdString()); })) {
    return;
  }
  if (!profile) {
    ShowError(QString::fromLatin1(kTextErrorAccessingStore));
    return;
  }
  hostText = FromStd(profile->server.host);
  loginText = FromStd(profile->server.login);
  passwordText = FromStd(profile->server.password);
  databaseText = FromStd(profile->server.database);
  startHourValue = profile->startHour;
  periodText = QString::number(profile->periodHours);
  TransferOut();
}

void CMainDlg::OnRemove() {
  const QList<QListWidgetItem*> selected = connectionList_->selectedItems();
  if (selected.isEmpty()) {
    return;
  }
  const QString name = selected.first()->text();
  WithStore([&] { RemoveConnection(store_, name.toStdString()); });
  // Nothing is selected afterwards, also when another name begins with the
  // removed one: the details are disabled, so no entry may look selected.
  selectedName.clear();
  FillConnectionList();
}

void CMainDlg::OnApplyChanges() {
  const QString oldName = nameText;
  if (!TransferIn()) {
    return;
  }
  ConnectionProfile changed;
  changed.name = nameText.toStdString();
  changed.server.host = hostText.toStdString();
  changed.server.login = loginText.toStdString();
  changed.server.password = passwordText.toStdString();
  changed.server.database = databaseText.toStdString();
  changed.startHour = startHourValue;
  changed.periodHours = periodText.toInt();
  ChangeResult result = ChangeResult::Done;
  if (!WithStore(
          [&] { result = ApplyConnectionChanges(store_, oldName.toStdString(), changed); })) {
    return;
  }
  if (result != ChangeResult::Done) {
    // The fields keep the user's edits, but the connection is still the one
    // stored under the old name: a later Apply must replace that one, not
    // add a second connection beside it.
    nameText = oldName;
    ShowError(QString::fromLatin1(ChangeResultText(result)));
    return;
  }
  const QString newName = nameText;
  FillConnectionList();
  SelectEntry(newName);
  OnSelectConnection();
}

// Selects the entry equal to `name` (letter case ignored) without the
// notification a user's choice sends.
void CMainDlg::SelectEntry(const QString& name) {
  for (int row = 0; row < connectionList_->count(); ++row) {
    if (QString::compare(connectionList_->item(row)->text(), name, Qt::CaseInsensitive) == 0) {
      const QSignalBlocker quiet(connectionList_);
      connectionList_->setCurrentRow(row);
      return;
    }
  }
}

}  // namespace vaultwick
