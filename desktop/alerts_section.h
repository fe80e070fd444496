#pragma once

// The store-wide alerts and the scheduler's limit, as vaultwick alerts and
// vaultwick scheduler --max-parallel --save keep them, in the settings
// window: shared by every connection, shown in each one's window. Test sends
// a test alert with what the fields show, off the window's thread, and says
// what each channel made of it.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <optional>

#include "desktop/background_check.h"
#include "desktop/settings_section.h"
#include "shell/alert_settings.h"

namespace vaultwick {

class AlertsSection : public SettingsSection {
 public:
  explicit AlertsSection(QWidget* parent = nullptr);

  void Load(SettingsStore& store, const std::string& name) override;
  ChangeResult Save(SettingsStore& store, const std::string& name) override;

  // What the fields show; nullopt with the reason when they cannot be used.
  std::optional<AlertSettings> Shown(QString* problem) const;

  QLineEdit* Webhook() const { return webhook_; }
  QPlainTextEdit* WebhookHeaders() const { return headers_; }
  QLineEdit* Command() const { return command_; }
  QComboBox* When() const { return when_; }
  QSpinBox* TimeLimit() const { return timeLimit_; }
  QSpinBox* MaxParallel() const { return maxParallel_; }
  QPushButton* TestButton() const { return test_; }
  QLabel* TestResult() const { return testResult_; }

 private:
  void OnTest();

  QLineEdit* webhook_ = nullptr;
  QPlainTextEdit* headers_ = nullptr;
  QLineEdit* command_ = nullptr;
  QComboBox* when_ = nullptr;
  QSpinBox* timeLimit_ = nullptr;
  QSpinBox* maxParallel_ = nullptr;
  QPushButton* test_ = nullptr;
  QLabel* testResult_ = nullptr;
  std::optional<BackgroundCheck> tester_;
};

}  // namespace vaultwick
