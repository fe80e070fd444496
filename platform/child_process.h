#pragma once

// Running another program as a child process: started from an argument
// vector (never through a shell, so no word of it is ever interpreted),
// standard input from /dev/null, standard output handed to the caller as it
// arrives, the end of standard error kept for the caller's message. The child
// runs in a process group of its own, so that a stop or a time limit can end
// it together with anything it started, and so that a terminal's Ctrl-C
// reaches us (which decides) rather than the child.
//
// RunChild blocks the calling thread until the child has ended: call it on a
// worker thread, never on a thread that must stay responsive.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop_token.h"

namespace vaultwick {

struct ChildLimits {
  // The child is killed once this moment has passed.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  // The child is killed soon after this is stopped (it is looked at every
  // few hundredths of a second).
  StopToken stop = StopToken::Never();
};

enum class ChildEnd {
  Exited,      // ended by itself; exitCode is its status
  Signalled,   // ended by a signal that we did not send
  TimedOut,    // killed at the deadline
  Stopped,     // killed because stop was stopped
  Refused,     // killed because the output handler asked for it
  NotStarted,  // could not be started; error is the errno value
};

struct ChildOutcome {
  ChildEnd end = ChildEnd::NotStarted;
  int exitCode = -1;
  int error = 0;
  // The last bytes the child wrote to standard error (at most kErrorTail).
  std::string errorTail;

  static constexpr std::size_t kErrorTail = 16 * 1024;

  bool Succeeded() const { return end == ChildEnd::Exited && exitCode == 0; }
};

// Receives the child's standard output in pieces as they arrive; returning
// false ends the child at once (ChildEnd::Refused).
using ChildOutputHandler = std::function<bool(std::string_view)>;

// Runs argv[0] (looked up on PATH when it has no '/') with the arguments
// argv[1...] and the environment of this process, where each "NAME=value" of
// `environment` replaces that name's value or adds it.
ChildOutcome RunChild(const std::vector<std::string>& argv, const ChildLimits& limits,
                      const ChildOutputHandler& onOutput,
                      const std::vector<std::string>& environment = {});

// RunChild with the standard output collected into `output`; more than
// `maxOutput` bytes end the child (ChildEnd::Refused).
ChildOutcome RunChildCollecting(const std::vector<std::string>& argv, const ChildLimits& limits,
                                std::string& output, std::size_t maxOutput = 16 * 1024 * 1024);

}  // namespace vaultwick
