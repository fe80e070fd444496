#include "cli/password_input.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "cli/stop_signals.h"

namespace vaultwick {
namespace {

// Echo off on a terminal for as long as it lives. A signal that ends the
// program meanwhile (Ctrl-C at the prompt) first turns echo back on, or the
// user's shell would be left typing blind.
class TerminalEchoOff {
 public:
  explicit TerminalEchoOff(int fd) : fd_(fd) {
    if (fd < 0 || !::isatty(fd) || ::tcgetattr(fd, &shown_) != 0) {
      return;
    }
    // At once on a signal: after a hang-up the output may never drain.
    signals_.emplace(StopSignals::EndByTheSignal{[this] { Show(TCSANOW); }, true});
    struct termios hidden = shown_;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &hidden);
  }

  ~TerminalEchoOff() {
    if (active()) {
      Show(TCSAFLUSH);
    }
  }

  TerminalEchoOff(const TerminalEchoOff&) = delete;
  TerminalEchoOff& operator=(const TerminalEchoOff&) = delete;

  bool active() const { return signals_.has_value(); }

 private:
  void Show(int when) const { ::tcsetattr(fd_, when, &shown_); }

  const int fd_;
  struct termios shown_ {};
  // Declared last, so that it is gone (its watcher joined) before anything
  // its last words read.
  std::optional<StopSignals> signals_;
};

}  // namespace

std::string ReadPasswordLine(const CommandIo& io, const char* prompt) {
  TerminalEchoOff echoOff(::fileno(io.in));
  if (echoOff.active()) {
    std::fputs(prompt, io.err);
    std::fflush(io.err);
  }
  std::string line;
  for (int c = std::fgetc(io.in); c != EOF && c != '\n'; c = std::fgetc(io.in)) {
    line += static_cast<char>(c);
  }
  if (echoOff.active()) {
    std::fputc('\n', io.err);
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

}  // namespace vaultwick
