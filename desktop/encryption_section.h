#pragma once

// Whether the connection's new archives are encrypted, and their password,
// shown only when asked for.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "desktop/settings_section.h"

namespace vaultwick {

class EncryptionSection : public SettingsSection {
 public:
  explicit EncryptionSection(QWidget* parent = nullptr);
  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore& store, const std::string& name) override;

  QCheckBox* Encrypt() const { return encrypt_; }
  QLineEdit* Password() const { return password_; }
  QPushButton* ShowPassword() const { return show_; }

 private:
  void OnEncryptToggled(bool on);

  QCheckBox* encrypt_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* show_ = nullptr;
  bool madeHere_ = false;  // the password was made by this window, not yet stored
};

}  // namespace vaultwick
