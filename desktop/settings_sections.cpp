#include "desktop/settings_sections.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "desktop/start_at_login.h"
#include "shell/keep_policy.h"

namespace vaultwick {

namespace {

constexpr int KeepPolicy::*kCounts[] = {&KeepPolicy::hourly, &KeepPolicy::daily,
                                        &KeepPolicy::weekly, &KeepPolicy::monthly};

}  // namespace

KeepPolicySection::KeepPolicySection(QWidget* parent)
    : SettingsSection(QStringLiteral("Restore points"), parent) {
  auto* layout = new QVBoxLayout(this);
  auto* explained = new QLabel(
      QStringLiteral("After each complete backup, keep the last archive of each of the newest:"),
      this);
  explained->setWordWrap(true);
  layout->addWidget(explained);
  auto* form = new QFormLayout;
  static const char* const kLabels[] = {"&Hours:", "&Days:", "&Weeks:", "&Months:"};
  for (std::size_t i = 0; i < std::size(counts_); ++i) {
    counts_[i] = new QSpinBox(this);
    counts_[i]->setRange(0, kMaxKeepCount);
    form->addRow(QString::fromLatin1(kLabels[i]), counts_[i]);
  }
  layout->addLayout(form);
  auto* always = new QLabel(QStringLiteral("The newest archive and the newest one whose test "
                                           "restore verified always stay. All zero keeps the "
                                           "newest alone."),
                            this);
  always->setWordWrap(true);
  layout->addWidget(always);
}

void KeepPolicySection::Load(SettingsStore& store, const std::string& name) {
  const KeepPolicy policy = LoadKeepPolicy(store, name).value_or(KeepPolicy{});
  for (std::size_t i = 0; i < std::size(counts_); ++i) {
    counts_[i]->setValue(policy.*kCounts[i]);
  }
}

ChangeResult KeepPolicySection::Save(SettingsStore& store, const std::string& name) {
  KeepPolicy policy;
  for (std::size_t i = 0; i < std::size(counts_); ++i) {
    policy.*kCounts[i] = counts_[i]->value();
  }
  return SetKeepPolicy(store, name, policy).value_or(ChangeResult::Done);
}

TestRestoreSection::TestRestoreSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Test restore"), parent) {
  auto* layout = new QVBoxLayout(this);
  enabled_ = new QCheckBox(QStringLiteral("&Test-restore every new archive into the scratch "
                                          "database:"),
                           this);
  scratch_ = new QLineEdit(this);
  auto* explained = new QLabel(QStringLiteral("The archive is loaded there, dumped again and "
                                              "compared with the archived dump, and the scratch "
                                              "database is dropped. It doubles the load a backup "
                                              "puts on the server."),
                               this);
  explained->setWordWrap(true);
  layout->addWidget(enabled_);
  layout->addWidget(scratch_);
  layout->addWidget(explained);
  connect(enabled_, &QCheckBox::toggled, scratch_, &QLineEdit::setEnabled);
  scratch_->setEnabled(false);
}

void TestRestoreSection::Load(SettingsStore& store, const std::string& name) {
  const std::optional<StoredConnection> stored = ReadStoredConnection(store, name);
  const std::string scratch = stored ? stored->verifyRestore : std::string();
  enabled_->setChecked(!scratch.empty());
  scratch_->setText(QString::fromStdString(scratch));
}

ChangeResult TestRestoreSection::Save(SettingsStore& store, const std::string& name) {
  const std::optional<std::string> scratch =
      enabled_->isChecked() ? std::optional<std::string>(scratch_->text().toStdString())
                            : std::nullopt;
  return SetVerifyRestore(store, name, scratch).value_or(ChangeResult::Done);
}

}  // namespace vaultwick

namespace vaultwick {

StartAtLoginSection::StartAtLoginSection(QWidget* parent)
    : SettingsSection(QStringLiteral("This computer"), parent) {
  auto* layout = new QVBoxLayout(this);
  startAtLogin_ = new QCheckBox(QStringLiteral("Start at &login, in the tray"), this);
  layout->addWidget(startAtLogin_);
}

void StartAtLoginSection::Load(SettingsStore&, const std::string&) {
  startAtLogin_->setChecked(StartsAtLogin());
}

QString StartAtLoginSection::SaveOutsideStore() {
  QString error;
  if (startAtLogin_->isChecked() != StartsAtLogin() &&
      !SetStartAtLogin(startAtLogin_->isChecked(), QCoreApplication::applicationFilePath(),
                       &error)) {
    return error;
  }
  return {};
}

}  // namespace vaultwick
