#pragma once

// The settings of one connection that the main window's fields do not show
// (how many restore points it keeps, its test restore, its encryption), and
// on a second page those of the whole store (the off-site remote, the
// alerts) and of the user (start at login). Each subject is a
// section of its own (a group of controls that loads from the store and
// saves to it), so a new subject is one more section. Saving runs every
// section in one store transaction and takes the shell's checks, the ones
// the command line takes: a refusal is shown and nothing is kept.

#include <QDialog>
#include <QTabWidget>
#include <memory>
#include <vector>

#include "desktop/settings_section.h"
#include "platform/settings_store.h"

namespace vaultwick {

class SettingsWindow : public QDialog {
 public:
  // `store` must outlive the window.
  SettingsWindow(SettingsStore& store, const QString& connection, QWidget* parent = nullptr);

  const std::vector<SettingsSection*>& Sections() const { return sections_; }

  // Saves every section; true when all of it was stored. A refusal or a store
  // that fails is shown in a message box.
  bool Save();

  void accept() override;

 private:
  static QWidget* AddPage(QTabWidget* tabs, const QString& title);
  void AddSection(QWidget* page, SettingsSection* section);

  SettingsStore& store_;
  std::string name_;
  std::vector<SettingsSection*> sections_;
};

}  // namespace vaultwick
