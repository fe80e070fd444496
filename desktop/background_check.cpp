#include "desktop/background_check.h"

#include <system_error>
#include <utility>

namespace vaultwick {

BackgroundCheck::BackgroundCheck(QObject* owner, QPushButton* button, QLabel* result)
    : button_(button), result_(result), calls_(GuiThreadCalls::For(owner)) {}

BackgroundCheck::~BackgroundCheck() {
  calls_->Detach();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void BackgroundCheck::Start(const QString& runningText, std::function<QString()> work) {
  if (thread_.joinable()) {
    thread_.join();  // its button was disabled until it ended
  }
  button_->setEnabled(false);
  result_->setText(runningText);
  try {
    thread_ = std::thread([calls = calls_, work = std::move(work), this] {
      QString text = work();
      calls->Post([this, text = std::move(text)] {
        result_->setText(text);
        button_->setEnabled(true);
      });
    });
  } catch (const std::system_error&) {
    result_->setText(QStringLiteral("No thread could be started for it."));
    button_->setEnabled(true);
  }
}

}  // namespace vaultwick
