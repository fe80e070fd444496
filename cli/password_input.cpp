#include "cli/password_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <string>

namespace vaultwick {
namespace {

// Echo off on a terminal for as long as it lives. A signal that ends the
// program meanwhile (Ctrl-C at the prompt) first turns echo back on, or the
// user's shell would be left typing blind.
class TerminalEchoOff {
 public:
  explicit TerminalEchoOff(int fd) {
    if (fd < 0 || !::isatty(fd) || ::tcgetattr(fd, &shown_) != 0) {
      return;
    }
    active_ = true;
    shownFd_ = fd;
    struct sigaction action {};
    action.sa_handler = RestoreAndDie;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
      ::sigaction(kSignals[i], &action, &previous_[i]);
    }
    struct termios hidden = shown_;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &hidden);
  }

  ~TerminalEchoOff() {
    if (!active_) {
      return;
    }
    ::tcsetattr(shownFd_, TCSAFLUSH, &shown_);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
      ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
  }

  TerminalEchoOff(const TerminalEchoOff&) = delete;
  TerminalEchoOff& operator=(const TerminalEchoOff&) = delete;

  bool active() const { return active_; }

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  static constexpr std::size_t kSignalCount = std::size(kSignals);

  // Async-signal-safe: the saved settings back, then the signal's own end.
  static void RestoreAndDie(int signal) {
    ::tcsetattr(shownFd_, TCSANOW, &shown_);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }

  // Static for the handler; only one prompt runs at a time.
  static inline struct termios shown_ {};
  static inline int shownFd_ = -1;
  bool active_ = false;
  struct sigaction previous_[kSignalCount] {};
};

}  // namespace

std::string ReadPasswordLine(const CommandIo& io) {
  TerminalEchoOff echoOff(::fileno(io.in));
  if (echoOff.active()) {
    std::fputs("Password: ", io.err);
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
