// The command line's one taker of stop signals, in forked children so that
// the signals and the mask stay out of the test program itself.

#include "cli/stop_signals.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace vaultwick::test {
namespace {

// Runs `body` in a child and returns its wait status.
int InChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

bool Blocked(int signal) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, signal) == 1;
}

// The first signal stops the token and wakes the waiter; a second one is
// taken without ending anything; afterwards the mask is as it was.
TEST(StopSignals, FirstSignalStopsTheTokenLaterOnesAreTakenMaskComesBack) {
  const int status = InChild([] {
    const StopToken stop;
    {
      StopSignals signals(stop);
      if (!Blocked(SIGHUP) || signals.WaitFor(std::chrono::milliseconds(1)) != 0) {
        return 1;
      }
      ::kill(::getpid(), SIGHUP);
      ::kill(::getpid(), SIGINT);
      if (signals.WaitFor(std::chrono::minutes(1)) != SIGHUP || !stop.StopRequested()) {
        return 2;
      }
    }
    return Blocked(SIGHUP) || Blocked(SIGINT) ? 3 : 0;
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Work that cannot be asked: the hook runs, then the signal ends the process
// as if it had never been taken, even while the work is blocked.
TEST(StopSignals, EndingSignalRunsTheHookThenEndsTheProcessByIt) {
  int hooked[2];
  ASSERT_EQ(::pipe(hooked), 0);
  const int status = InChild([&hooked] {
    const StopSignals signals(
        StopSignals::EndByTheSignal{[&hooked] { static_cast<void>(::write(hooked[1], "h", 1)); }});
    ::kill(::getpid(), SIGTERM);
    ::pause();  // a read that never ends
    return 0;
  });
  ::close(hooked[1]);
  char said = 0;
  EXPECT_EQ(::read(hooked[0], &said, 1), 1);
  ::close(hooked[0]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

}  // namespace
}  // namespace vaultwick::test
