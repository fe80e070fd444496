#pragma once

// The store-wide off-site remote, as vaultwick offsite keeps it, in the
// settings window: shared by every connection, shown in each one's window.
// Check proves what the fields show (writes, lists, reads back and deletes a
// small file) off the window's thread and says what failed in rclone's words.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "desktop/background_check.h"
#include "desktop/settings_section.h"
#include "shell/offsite_settings.h"

namespace vaultwick {

class OffsiteSection : public SettingsSection {
 public:
  explicit OffsiteSection(QWidget* parent = nullptr);

  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore& store, const std::string& name) override;

  QLineEdit* Remote() const { return remote_; }
  QLineEdit* ConfigFile() const { return config_; }
  QLabel* Warning() const { return warning_; }
  QPushButton* CheckButton() const { return check_; }
  QLabel* CheckResult() const { return checkResult_; }

 private:
  void OnCheck();
  OffsiteSettings Shown() const;

  QLineEdit* remote_ = nullptr;
  QLineEdit* config_ = nullptr;
  QLabel* warning_ = nullptr;
  QPushButton* check_ = nullptr;
  QLabel* checkResult_ = nullptr;
  std::optional<BackgroundCheck> checker_;
};

}  // namespace vaultwick
