#include "desktop/alerts_section.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QStringList>

#include "shell/alert.h"
#include "shell/scheduler.h"

namespace vaultwick {

AlertsSection::AlertsSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Alerts (all connections)"), parent) {
  auto* form = new QFormLayout(this);
  webhook_ = new QLineEdit(this);
  webhook_->setPlaceholderText(QStringLiteral("https://chat.example/hooks/..."));
  form->addRow(QStringLiteral("&Webhook:"), webhook_);
  headers_ = new QPlainTextEdit(this);
  headers_->setPlaceholderText(QStringLiteral("Authorization: Bearer ...  (one a line)"));
  headers_->setFixedHeight(headers_->fontMetrics().lineSpacing() * 3 + 12);
  form->addRow(QStringLiteral("&Headers:"), headers_);
  command_ = new QLineEdit(this);
  command_->setPlaceholderText(QStringLiteral("mail -s \"$VAULTWICK_TEXT\" admin < /dev/null"));
  form->addRow(QStringLiteral("&Command:"), command_);
  when_ = new QComboBox(this);
  when_->addItem(QStringLiteral("Failures and recoveries"), QString::fromLatin1("failures"));
  when_->addItem(QStringLiteral("Every run"), QString::fromLatin1("always"));
  form->addRow(QStringLiteral("&Tell:"), when_);
  timeLimit_ = new QSpinBox(this);
  timeLimit_->setRange(1, AlertSettings::kMaxTimeLimitSeconds);
  timeLimit_->setSuffix(QStringLiteral(" s"));
  form->addRow(QStringLiteral("Time &limit:"), timeLimit_);
  maxParallel_ = new QSpinBox(this);
  maxParallel_->setRange(1, Scheduler::kMaxMaxParallel);
  form->addRow(QStringLiteral("Scheduled backups at &once:"), maxParallel_);
  auto* testRow = new QHBoxLayout;
  test_ = new QPushButton(QStringLiteral("&Send a test alert"), this);
  testResult_ = new QLabel(this);
  testResult_->setWordWrap(true);
  testRow->addWidget(test_);
  testRow->addWidget(testResult_, 1);
  form->addRow(testRow);
  tester_.emplace(this, test_, testResult_);
  connect(test_, &QPushButton::clicked, this, &AlertsSection::OnTest);
}

void AlertsSection::Load(SettingsStore& store, const std::string&) {
  const AlertSettings settings = LoadAlertSettings(store);
  webhook_->setText(QString::fromStdString(settings.webhook));
  QStringList headers;
  for (const std::string& header : settings.webhookHeaders) {
    headers << QString::fromStdString(header);
  }
  headers_->setPlainText(headers.join(QLatin1Char('\n')));
  command_->setText(QString::fromStdString(settings.command));
  when_->setCurrentIndex(settings.when == AlertWhen::Always ? 1 : 0);
  timeLimit_->setValue(settings.timeLimitSeconds);
  maxParallel_->setValue(LoadMaxParallel(store));
}

std::optional<AlertSettings> AlertsSection::Shown(QString* problem) const {
  AlertSettings settings;
  settings.webhook = webhook_->text().trimmed().toStdString();
  if (!settings.webhook.empty()) {
    if (const std::string why = WebhookUrlProblem(settings.webhook); !why.empty()) {
      *problem = QString::fromStdString(why);
      return std::nullopt;
    }
  }
  for (const QString& line : headers_->toPlainText().split(QLatin1Char('\n'))) {
    const std::string header = line.trimmed().toStdString();
    if (header.empty()) {
      continue;
    }
    if (const std::string why = WebhookHeaderProblem(header); !why.empty()) {
      *problem = QString::fromStdString(why + ": " + header);
      return std::nullopt;
    }
    settings.webhookHeaders.push_back(header);
  }
  settings.command = command_->text().trimmed().toStdString();
  settings.when = when_->currentIndex() == 1 ? AlertWhen::Always : AlertWhen::Failures;
  settings.timeLimitSeconds = timeLimit_->value();
  return settings;
}

ChangeResult AlertsSection::Save(SettingsStore& store, const std::string&) {
  QString problem;
  const std::optional<AlertSettings> settings = Shown(&problem);
  if (!settings) {
    return ChangeResult::InvalidAlertChannel;
  }
  SaveAlertSettings(store, *settings);
  SaveMaxParallel(store, maxParallel_->value());
  return ChangeResult::Done;
}

void AlertsSection::OnTest() {
  QString problem;
  std::optional<AlertSettings> settings = Shown(&problem);
  if (settings && !settings->AnyChannel()) {
    problem = QStringLiteral("Set a webhook or a command first.");
  }
  if (!problem.isEmpty()) {
    testResult_->setText(problem);
    return;
  }
  Alert alert;
  alert.host = ThisHostName();
  alert.time = ToUnixSeconds(SystemClock().Now());
  tester_->Start(QStringLiteral("Sending..."), [settings = *settings, alert] {
    const AlertDelivery delivery = SendAlert(settings, alert);
    QStringList lines;
    for (const auto& [channel, outcome] :
         {std::pair{"Webhook", &delivery.webhook}, std::pair{"Command", &delivery.command}}) {
      if (*outcome) {
        lines << QStringLiteral("%1: %2").arg(QString::fromLatin1(channel),
                                              (*outcome)->empty()
                                                  ? QStringLiteral("took the test alert")
                                                  : QString::fromStdString(**outcome));
      }
    }
    return lines.join(QLatin1Char('\n'));
  });
}

}  // namespace vaultwick
