#pragma once

// The copy-failure message of a job, shown by the desktop program. The job's
// worker waits until the user has dismissed the message; the box itself is a
// window of the GUI thread that blocks nothing else (the main window and other
// jobs go on). When the program ends, every worker still waiting is released
// at once, so that a job never holds up the exit and the exit never waits for
// a box.

#include <QObject>
#include <QWidget>
#include <memory>

#include "backup/job_ports.h"

namespace vaultwick {

class JobMessageBoxes : public QObject {
 public:
  // The boxes belong to `owner` (shown as windows of their own, not modal).
  explicit JobMessageBoxes(QWidget* owner);
  ~JobMessageBoxes() override;

  // The port to put into a job's request.
  std::shared_ptr<MessageBoxPort> Port() const { return port_; }

  // Releases every waiting worker and lets later messages return at once.
  void ShutDown();

 private:
  std::shared_ptr<MessageBoxPort> port_;
  std::shared_ptr<struct JobMessageBoxState> state_;
};

}  // namespace vaultwick
