#pragma once

// The sections of the settings window.

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>

#include "desktop/settings_section.h"

namespace vaultwick {

// How many restore points of each kind the connection keeps.
class KeepPolicySection : public SettingsSection {
 public:
  explicit KeepPolicySection(QWidget* parent = nullptr);
  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore& store, const std::string& name) override;

  QSpinBox* Hourly() const { return counts_[0]; }
  QSpinBox* Daily() const { return counts_[1]; }
  QSpinBox* Weekly() const { return counts_[2]; }
  QSpinBox* Monthly() const { return counts_[3]; }

 private:
  QSpinBox* counts_[4] = {};
};

// Whether the desktop program starts, in the tray, when the user logs in: a
// setting of the user's, not of the connection, shown here as in the tray menu.
class StartAtLoginSection : public SettingsSection {
 public:
  explicit StartAtLoginSection(QWidget* parent = nullptr);
  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore&, const std::string&) override { return ChangeResult::Done; }
  QString SaveOutsideStore() override;

  QCheckBox* StartAtLogin() const { return startAtLogin_; }

 private:
  QCheckBox* startAtLogin_ = nullptr;
};

// Whether each new archive is test-restored, and into which scratch database.
class TestRestoreSection : public SettingsSection {
 public:
  explicit TestRestoreSection(QWidget* parent = nullptr);
  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore& store, const std::string& name) override;

  QCheckBox* Enabled() const { return enabled_; }
  QLineEdit* ScratchDatabase() const { return scratch_; }

 private:
  QCheckBox* enabled_ = nullptr;
  QLineEdit* scratch_ = nullptr;
};

}  // namespace vaultwick
