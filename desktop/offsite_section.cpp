#include "desktop/offsite_section.h"

#include <QFormLayout>
#include <QHBoxLayout>

namespace vaultwick {

OffsiteSection::OffsiteSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Off-site copies (all connections)"), parent) {
  auto* form = new QFormLayout(this);
  remote_ = new QLineEdit(this);
  remote_->setPlaceholderText(QStringLiteral("backups:vault/db  (empty: no off-site copies)"));
  form->addRow(QStringLiteral("&Remote:"), remote_);
  config_ = new QLineEdit(this);
  config_->setPlaceholderText(QStringLiteral("rclone's own"));
  form->addRow(QStringLiteral("rclone &configuration:"), config_);
  warning_ = new QLabel(this);
  warning_->setWordWrap(true);
  warning_->setStyleSheet(QStringLiteral("font-weight: bold"));
  warning_->hide();
  form->addRow(warning_);
  auto* checkRow = new QHBoxLayout;
  check_ = new QPushButton(QStringLiteral("C&heck"), this);
  checkResult_ = new QLabel(this);
  checkResult_->setWordWrap(true);
  checkRow->addWidget(check_);
  checkRow->addWidget(checkResult_, 1);
  form->addRow(checkRow);
  checker_.emplace(this, check_, checkResult_);
  connect(check_, &QPushButton::clicked, this, &OffsiteSection::OnCheck);
}

void OffsiteSection::Load(SettingsStore& store, const std::string&) {
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  remote_->setText(QString::fromStdString(settings.remote));
  config_->setText(QString::fromStdString(settings.configFile));
  const std::string warning =
      settings.IsSet() ? UnencryptedWarning(UnencryptedConnections(store)) : std::string();
  warning_->setText(QString::fromStdString(warning));
  warning_->setVisible(!warning.empty());
}

OffsiteSettings OffsiteSection::Shown() const {
  return {remote_->text().trimmed().toStdString(), config_->text().trimmed().toStdString()};
}

ChangeResult OffsiteSection::Save(SettingsStore& store, const std::string&) {
  return SaveOffsiteSettings(store, Shown()) ? ChangeResult::Done
                                             : ChangeResult::MissingRcloneConfig;
}

void OffsiteSection::OnCheck() {
  const OffsiteSettings shown = Shown();
  if (!shown.IsSet()) {
    checkResult_->setText(QStringLiteral("Name a remote first."));
    return;
  }
  checker_->Start(QStringLiteral("Checking..."), [shown] {
    const RemoteOutcome outcome = CheckOffsite(shown);
    return outcome.ok() ? QStringLiteral(
                              "The remote works: a file was written, listed, read "
                              "back and deleted.")
                        : QString::fromStdString(outcome.text);
  });
}

}  // namespace vaultwick
