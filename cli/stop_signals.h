#pragma once

// How a command takes the signals that stop it (SIGINT, SIGTERM, SIGHUP):
// blocked in the calling thread, and so in every thread it starts later, and
// taken by one watching thread instead of interrupting whatever runs. Work
// therefore never sees a handler run in its middle; it sees a stop token, or
// the process ends once a hook has tidied up.
//
// Make one on the command's main thread before it starts any other thread,
// and only one at a time. While it lives the signals are blocked; afterwards
// the mask is as it was. When no watcher can be had (no descriptors, no
// thread) the signals are left to end the process as they would without it.

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "common/stop_token.h"
#include "platform/descriptor.h"

namespace vaultwick {

class StopSignals {
 public:
  // Work that stops on its own: the first signal asks `stop` to stop (if
  // given) and wakes WaitFor; later ones are taken and change nothing, so
  // that a second Ctrl-C does not cut the tidying short. Signals still
  // pending at the end are taken too: the work has already ended.
  explicit StopSignals(std::optional<StopToken> stop = std::nullopt);

  // Work that cannot be asked (a read from a terminal or a pipe): a signal
  // runs `lastWords` on the watching thread, while the work goes on, and
  // then ends the process by that signal, as it would have ended untaken.
  // `alsoQuit` takes SIGQUIT (Ctrl-\) as well, for a terminal whose echo
  // must come back whichever key ends the program.
  struct EndByTheSignal {
    std::function<void()> lastWords;
    bool alsoQuit = false;
  };
  explicit StopSignals(EndByTheSignal end);

  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first signal taken, 0 while none was.
  int Received() const;

  // Waits until a signal was taken, Wake was called since the last wait, or
  // `timeout` has passed; Received().
  int WaitFor(std::chrono::nanoseconds timeout);
  // Ends the current or next WaitFor early, from any thread.
  void Wake();

 private:
  void Start(bool alsoQuit);
  void Watch();
  int Take();

  const std::optional<StopToken> stop_;
  const std::function<void()> lastWords_;
  const bool ending_ = false;
  sigset_t set_{};
  sigset_t previous_{};
  bool blocked_ = false;
  Descriptor signals_;
  Descriptor wake_;
  std::thread watcher_;
  mutable std::mutex mutex_;
  std::condition_variable taken_;
  int received_ = 0;
  bool woken_ = false;  // guarded by mutex_
};

}  // namespace vaultwick
