#pragma once

// The backup job's two ways of speaking to a person. They are small
// interfaces so that the job knows no window toolkit: the desktop program
// puts a progress window and a message box behind them, `vaultwick backup`
// puts standard error behind them, and the tests put recorders there.

#include <string>

namespace vaultwick {

// One line of status text that the job replaces at each step.
class StatusTextPort {
 public:
  virtual ~StatusTextPort() = default;
  // Replaces the whole text. May wait until the receiver has taken the text,
  // as a window's set-text call waits for the window's thread. A text set
  // after the receiver has closed must be accepted and have no effect.
  virtual void SetStatusText(const std::string& text) = 0;
};

// A modal error message: the one the job shows when it cannot copy the
// archive into the target folder.
class MessageBoxPort {
 public:
  virtual ~MessageBoxPort() = default;
  // Shows `text` with an error icon and an OK button and returns once the
  // user has dismissed it.
  virtual void ShowError(const std::string& text) = 0;
};

}  // namespace vaultwick
