#include "cli/stop_signals.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vaultwick {
namespace {

// Ctrl-C, kill's default, and a terminal that went away.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The signal's own default action, now, from this thread: for each of the
// stop signals and SIGQUIT that ends the process.
[[noreturn]] void EndBy(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // only if the default action did not end it
}

}  // namespace

StopSignals::StopSignals(std::optional<StopToken> stop) : stop_(std::move(stop)) {
  Start(false);
}

StopSignals::StopSignals(EndByTheSignal end) : lastWords_(std::move(end.lastWords)), ending_(true) {
  Start(end.alsoQuit);
}

void StopSignals::Start(bool alsoQuit) {
  sigemptyset(&set_);
  for (int signal : kStopSignals) {
    sigaddset(&set_, signal);
  }
  if (alsoQuit) {
    sigaddset(&set_, SIGQUIT);
  }
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  blocked_ = true;
  signals_.Reset(::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK));
  wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (signals_.open() && wake_.open()) {
    try {
      watcher_ = std::thread([this] { Watch(); });
      return;
    } catch (const std::system_error&) {
    }
  }
  // Nothing could take them: better they end the process as before.
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  blocked_ = false;
}

StopSignals::~StopSignals() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    watcher_.join();
  }
  if (!blocked_) {
    return;
  }
  if (!ending_) {
    while (Take() != 0) {
    }
  }
  // A signal still pending for work that ends by it is delivered here.
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int StopSignals::Take() {
  signalfd_siginfo info{};
  if (::read(signals_.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
    return 0;
  }
  return static_cast<int>(info.ssi_signo);
}

void StopSignals::Watch() {
  pollfd waits[2] = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;  // the signals stay blocked and are drained at the end
    }
    if (waits[1].revents & POLLIN) {
      return;
    }
    const int signal = Take();
    if (signal == 0) {
      continue;
    }
    if (ending_) {
      if (lastWords_) {
        lastWords_();
      }
      EndBy(signal);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (received_ != 0) {
        continue;
      }
      received_ = signal;
    }
    if (stop_) {
      stop_->RequestStop();
    }
    taken_.notify_all();
  }
}

int StopSignals::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

int StopSignals::WaitFor(std::chrono::nanoseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  taken_.wait_for(lock, timeout, [this] { return received_ != 0 || woken_; });
  woken_ = false;
  return received_;
}

void StopSignals::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  taken_.notify_all();
}

}  // namespace vaultwick
