#include "platform/child_process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <fstream>
#include <thread>

namespace vaultwick {
namespace {

using std::chrono::steady_clock;

ChildLimits Within(std::chrono::milliseconds limit) {
  return {steady_clock::now() + limit, StopToken::Never()};
}

std::vector<std::string> Shell(const std::string& script) {
  return {"/bin/sh", "-c", script};
}

// Whether a process of that id still runs (a zombie has ended).
bool Runs(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string ignored;
  std::string state;
  return static_cast<bool>(stat >> ignored >> ignored >> state) && state != "Z" && state != "X";
}

TEST(ChildProcessTest, CollectsOutputStatusAndTheEndOfStandardError) {
  std::string out;
  ChildOutcome outcome = RunChildCollecting(
      Shell("head -c 300000 /dev/zero; echo first >&2; echo 'last words' >&2; exit 3"),
      Within(std::chrono::seconds(30)), out);
  EXPECT_EQ(outcome.end, ChildEnd::Exited);
  EXPECT_EQ(outcome.exitCode, 3);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(out, std::string(300000, '\0'));
  EXPECT_EQ(outcome.errorTail, "first\nlast words\n");

  // The arguments reach the program as they are: no shell reads them.
  outcome =
      RunChildCollecting({"/bin/echo", "$HOME", "a b", "*"}, Within(std::chrono::seconds(30)), out);
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(out, "$HOME a b *\n");
}

TEST(ChildProcessTest, TheEnvironmentGivenReplacesOrAddsToOurs) {
  ASSERT_EQ(setenv("VAULTWICK_CHILD_KEPT", "kept", 1), 0);
  ASSERT_EQ(setenv("VAULTWICK_CHILD_REPLACED", "old", 1), 0);
  std::string out;
  const ChildOutcome outcome =
      RunChild(Shell("printf '%s|%s|%s' \"$VAULTWICK_CHILD_KEPT\" \"$VAULTWICK_CHILD_REPLACED\" "
                     "\"$VAULTWICK_CHILD_ADDED\"; env | grep -c '^VAULTWICK_CHILD_REPLACED=' >&2"),
               Within(std::chrono::seconds(30)),
               [&out](std::string_view bytes) {
                 out.append(bytes);
                 return true;
               },
               {"VAULTWICK_CHILD_REPLACED=new", "VAULTWICK_CHILD_ADDED=$(touch x); a b"});
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(out, "kept|new|$(touch x); a b");
  EXPECT_EQ(outcome.errorTail, "1\n");  // one value of the name, not two
  unsetenv("VAULTWICK_CHILD_KEPT");
  unsetenv("VAULTWICK_CHILD_REPLACED");
}

TEST(ChildProcessTest, KeepsOnlyTheEndOfALongErrorOutput) {
  std::string out;
  ChildOutcome outcome =
      RunChildCollecting(Shell("head -c 100000 /dev/zero | tr '\\0' x >&2; echo ' the end' >&2"),
                         Within(std::chrono::seconds(30)), out);
  ASSERT_TRUE(outcome.Succeeded());
  EXPECT_EQ(outcome.errorTail.size(), ChildOutcome::kErrorTail);
  EXPECT_EQ(outcome.errorTail.substr(outcome.errorTail.size() - 9), " the end\n");
}

TEST(ChildProcessTest, AMissingProgramIsNotStartedRatherThanAFailedChild) {
  std::string out;
  ChildOutcome outcome =
      RunChildCollecting({"vaultwick-no-such-program"}, Within(std::chrono::seconds(30)), out);
  EXPECT_EQ(outcome.end, ChildEnd::NotStarted);
  EXPECT_EQ(outcome.error, ENOENT);
}

// The deadline, a stop and a refused output each end the child and whatever
// it started, even a descendant that keeps the output pipe open.
TEST(ChildProcessTest, DeadlineStopAndRefusalEndTheChildWithItsDescendants) {
  const std::string script = "sleep 60 & echo $!; wait";
  std::string out;
  auto started = steady_clock::now();
  ChildOutcome outcome =
      RunChildCollecting(Shell(script), Within(std::chrono::milliseconds(300)), out);
  EXPECT_EQ(outcome.end, ChildEnd::TimedOut);
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(30));
  std::string descendant = out.substr(0, out.find('\n'));
  ASSERT_FALSE(descendant.empty());
  // SIGKILL is delivered, not awaited: allow the kernel its moment.
  for (int i = 0; i < 1000 && Runs(descendant); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(Runs(descendant));

  const StopToken stop;
  outcome =
      RunChild(Shell(script), {steady_clock::time_point::max(), stop}, [&stop](std::string_view) {
        stop.RequestStop();
        return true;
      });
  EXPECT_EQ(outcome.end, ChildEnd::Stopped);

  outcome = RunChild({"/usr/bin/yes"}, Within(std::chrono::seconds(30)),
                     [](std::string_view) { return false; });
  EXPECT_EQ(outcome.end, ChildEnd::Refused);
}

// A thread that blocks the stop signals to take them itself must not start
// children that cannot be ended by them.
TEST(ChildProcessTest, TheChildGetsDefaultSignalsWhateverTheCallingThreadBlocks) {
  ChildOutcome outcome;
  std::thread caller([&outcome] {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    std::string out;
    outcome =
        RunChildCollecting(Shell("kill -TERM $$; sleep 30"), Within(std::chrono::seconds(20)), out);
  });
  caller.join();
  EXPECT_EQ(outcome.end, ChildEnd::Signalled);
}

}  // namespace
}  // namespace vaultwick
