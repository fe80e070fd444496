#include "desktop/main_dlg.h"

// The main window's target folder: typed into the Save to field or chosen
// with Browse, and accepted only through the shell's folder check. An
// accepted folder is saved at once, so scheduled runs always use the folder
// the window shows.

#include <QFileDialog>

#include "desktop/main_dialog_template.h"
#include "shell/target_folder.h"

namespace vaultwick {

// Checks `candidate`; when accepted it becomes the target folder (as the
// check spells it) and is saved, otherwise the user is told and the field
// shows the previous folder again.
bool CMainDlg::AcceptTargetFolder(const QString& candidate) {
  targetCheckPending_ = false;
  const std::optional<std::string> accepted = CheckTargetFolder(candidate.toStdString());
  if (!accepted) {
    Edit(kSaveToEditId)->setText(saveToText);
    ShowError(QString::fromLatin1(kTextTargetFolderMissing));
    return false;
  }
  const QString folder = QString::fromStdString(*accepted);
  Edit(kSaveToEditId)->setText(folder);
  if (folder != saveToText) {
    saveToText = folder;
    WithStore([&] { SaveTargetFolder(store_, *accepted); });
  }
  return true;
}

// Text typed into the field but not yet checked (the focus never left it)
// is checked before an action uses the target folder. False when refused.
bool CMainDlg::CommitTargetField() {
  const QString typed = Edit(kSaveToEditId)->text();
  return typed == saveToText || AcceptTargetFolder(typed);
}

// Queued by the field's focus-out; an action that checked the field since
// (Browse, Download now, the exit) has done the work already.
void CMainDlg::OnTargetFolderKillFocus() {
  if (!targetCheckPending_ || ending_) {
    return;
  }
  AcceptTargetFolder(Edit(kSaveToEditId)->text());
}

// Text typed just before is checked before the dialog opens; a cancelled
// dialog checks the folder already held.
void CMainDlg::OnBrowse() {
  if (!CommitTargetField()) {
    return;
  }
  const QString chosen = options_.chooseFolder ? options_.chooseFolder(this, saveToText)
                                               : QFileDialog::getExistingDirectory(
                                                     this, QStringLiteral("Browse"), saveToText);
  AcceptTargetFolder(chosen.isEmpty() ? saveToText : chosen);
}

}  // namespace vaultwick
