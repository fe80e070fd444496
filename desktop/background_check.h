#pragma once

// A check a settings section runs off the window's thread (a test alert, the
// off-site remote's check): its button is disabled while it runs, its label
// says what it does and then what came of it. The section waits for a check
// under way when it goes; the check's own time limit bounds that wait.

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "desktop/gui_thread_calls.h"

namespace vaultwick {

class BackgroundCheck {
 public:
  // `button` and `result` belong to `owner`, which outlives this.
  BackgroundCheck(QObject* owner, QPushButton* button, QLabel* result);
  ~BackgroundCheck();
  BackgroundCheck(const BackgroundCheck&) = delete;
  BackgroundCheck& operator=(const BackgroundCheck&) = delete;

  // Shows `runningText` and runs `work` on a thread of its own; the text it
  // returns is shown when it ends.
  void Start(const QString& runningText, std::function<QString()> work);

 private:
  QPushButton* button_;
  QLabel* result_;
  std::shared_ptr<GuiThreadCalls> calls_;
  std::thread thread_;
};

}  // namespace vaultwick
