#include "desktop/encryption_section.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <stdexcept>

#include "shell/archive_password.h"

namespace vaultwick {

EncryptionSection::EncryptionSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Encryption"), parent) {
  auto* layout = new QVBoxLayout(this);
  encrypt_ =
      new QCheckBox(QStringLiteral("&Encrypt new archives (AES-256) under the password:"), this);
  password_ = new QLineEdit(this);
  password_->setReadOnly(true);
  password_->setEchoMode(QLineEdit::Password);
  show_ = new QPushButton(QStringLiteral("&Show"), this);
  auto* row = new QHBoxLayout;
  row->addWidget(password_);
  row->addWidget(show_);
  auto* warning = new QLabel(QStringLiteral("<b>Losing this password loses every archive "
                                            "encrypted under it.</b> Keep a copy elsewhere. "
                                            "Archive names and sizes stay readable."),
                             this);
  warning->setWordWrap(true);
  layout->addWidget(encrypt_);
  layout->addLayout(row);
  layout->addWidget(warning);
  connect(encrypt_, &QCheckBox::toggled, this, &EncryptionSection::OnEncryptToggled);
  connect(show_, &QPushButton::clicked, this, [this] {
    password_->setEchoMode(QLineEdit::Normal);
    show_->setEnabled(false);
  });
}

void EncryptionSection::Load(SettingsStore& store, const std::string& name) {
  const std::optional<StoredConnection> stored = ReadStoredConnection(store, name);
  madeHere_ = false;
  password_->setText(stored ? QString::fromStdString(stored->archivePassword) : QString());
  encrypt_->setChecked(stored && stored->encryptArchives);
  show_->setEnabled(!password_->text().isEmpty());
}

void EncryptionSection::OnEncryptToggled(bool on) {
  // The password is made when encryption is turned on, so that it can be
  // seen and copied before the first archive needs it.
  if (on && password_->text().isEmpty()) {
    try {
      password_->setText(QString::fromStdString(GenerateArchivePassword()));
      madeHere_ = true;
      show_->setEnabled(true);
    } catch (const std::runtime_error&) {
      // Left empty: the store makes one when the setting is kept.
    }
  }
}

ChangeResult EncryptionSection::Save(SettingsStore& store, const std::string& name) {
  const std::optional<std::string> password =
      madeHere_ && encrypt_->isChecked()
          ? std::optional<std::string>(password_->text().toStdString())
          : std::nullopt;
  return SetArchiveEncryption(store, name, encrypt_->isChecked(), password)
      .value_or(ChangeResult::Done);
}

}  // namespace vaultwick
