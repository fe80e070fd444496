// The job runner with real jobs that cannot reach a server: which jobs run,
// the refused second start, history rows and the wait at shutdown. A status
// port holds a job at its first step for as long as the test needs.

#include "shell/job_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "backup/run_backup_job.h"
#include "server/server_connection.h"
#include "shell/connection_lock.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

// Holds the job that shows "Connecting..." until Release().
class HoldingPort : public StatusTextPort {
 public:
  void SetStatusText(const std::string& text) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (text == kTextConnecting) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
  }
  void WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return held_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

// A job whose server refuses at once (nothing listens on port 1).
std::unique_ptr<BackupRequest> Unreachable(const std::string& name,
                                           std::shared_ptr<StatusTextPort> port = nullptr) {
  auto request = std::make_unique<BackupRequest>();
  request->job.name = name;
  request->job.server.host = "127.0.0.1:1";
  request->statusEcho = std::move(port);
  return request;
}

TEST(JobRunnerTest, KnowsWhatRunsRefusesASecondStartAndRecordsEveryEnd) {
  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  TestClock clock(LocalTime{2024, 3, 1, 10, 0, 5});
  std::mutex seenMutex;
  std::vector<std::string> seen;
  JobRunner::Observer observer;
  observer.started = [&](const std::string& name, JobOrigin) {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back("started " + name);
  };
  observer.ended = [&](const JobEnded& ended, const std::string& storeError) {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back("ended " + ended.connection + " " +
                   (ended.outcome ? BackupResultName(ended.outcome->result) : kResultNotStarted) +
                   storeError);
  };
  JobRunner runner(store.get(), clock, observer);

  auto port = std::make_shared<HoldingPort>();
  auto first = Unreachable("Shop", port);
  bool ownCallbackRan = false;
  first->onOutcome = [&](const BackupOutcome&) { ownCallbackRan = true; };
  ASSERT_EQ(runner.Start(first, JobOrigin::Schedule, StartRule::UnlessRunning), JobStart::Started);
  EXPECT_EQ(first, nullptr);
  port->WaitUntilHeld();
  EXPECT_TRUE(runner.IsRunning("shop"));
  EXPECT_EQ(runner.RunningJobCount(), 1);

  auto second = Unreachable("SHOP");
  EXPECT_EQ(runner.Start(second, JobOrigin::Schedule, StartRule::UnlessRunning),
            JobStart::AlreadyRunning);
  ASSERT_NE(second, nullptr);  // still the caller's
  auto other = Unreachable("Other");
  EXPECT_EQ(runner.Start(other, JobOrigin::DownloadNow, StartRule::Always), JobStart::Started);

  port->Release();
  EXPECT_TRUE(runner.WaitForAll(std::chrono::seconds(60)));
  EXPECT_EQ(runner.RunningJobCount(), 0);
  EXPECT_FALSE(runner.IsRunning("Shop"));
  EXPECT_TRUE(ownCallbackRan);

  std::vector<HistoryRow> rows = ReadHistory(*store, "shop", 10);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].result, "ConnectFailed");  // newest first
  EXPECT_EQ(rows[0].endText, kTextCantConnect);
  EXPECT_EQ(rows[0].startedBy, "schedule");
  EXPECT_EQ(rows[0].startedAt, ToUnixSeconds(clock.Now()));
  EXPECT_GE(rows[0].durationMs, 0);
  EXPECT_EQ(rows[1].result, kResultNotStarted);
  EXPECT_EQ(rows[1].connection, "SHOP");
  EXPECT_EQ(ReadHistory(*store, "other", 10).at(0).startedBy, "download now");
  std::lock_guard<std::mutex> lock(seenMutex);
  EXPECT_EQ(seen.front(), "started Shop");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "ended SHOP NotStarted"), 1);
  EXPECT_EQ(seen.size(), 5u);
}

// Shutdown asks every job to stop through its shared flag, and the wait for
// them is bounded.
TEST(JobRunnerTest, StopAllReachesEveryJobAndTheWaitIsBounded) {
  TestClock clock;
  JobRunner runner(nullptr, clock);
  auto port = std::make_shared<HoldingPort>();
  auto held = Unreachable("held", port);
  const StopToken stop = held->stop;
  ASSERT_EQ(runner.Start(held, JobOrigin::Command, StartRule::Always), JobStart::Started);
  port->WaitUntilHeld();
  runner.StopAll();
  EXPECT_TRUE(stop.StopRequested());
  EXPECT_FALSE(runner.WaitForAll(std::chrono::milliseconds(20)));
  EXPECT_EQ(runner.RunningJobCount(), 1);
  port->Release();
  EXPECT_TRUE(runner.WaitForAll(std::chrono::seconds(60)));
}

// A stored connection's run holds its lock, which another program's runner
// honours: a child process holding it refuses every start here (also
// Always), until the kernel releases it with the killed child.
TEST(JobRunnerTest, ARunOfTheConnectionInAnotherProcessRefusesTheStart) {
  ScratchFolder scratch;
  const std::string storePath = scratch.File("s.sqlite");
  auto store = SettingsStore::Open(storePath);
  TestClock clock(LocalTime{2024, 3, 1, 10, 0, 5});
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const ConnectionLock held = ConnectionLock::TryTake(storePath, "shop");
    const char state = held.held() ? 'H' : 'x';
    (void)!::write(ready[1], &state, 1);
    for (;;) {
      ::pause();
    }
  }
  char state = '?';
  EXPECT_EQ(::read(ready[0], &state, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(state, 'H');

  JobRunner runner(store.get(), clock);
  auto refused = Unreachable("SHOP");
  EXPECT_EQ(runner.Start(refused, JobOrigin::Command, StartRule::Always), JobStart::AlreadyRunning);
  const std::vector<HistoryRow> rows = ReadHistory(*store, "shop", 10);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, kResultNotStarted);
  EXPECT_NE(rows[0].endText.find("already running"), std::string::npos);

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(runner.Start(refused, JobOrigin::Command, StartRule::Always), JobStart::Started);
  EXPECT_TRUE(runner.WaitForAll(std::chrono::seconds(60)));
}

// Any name gives one plain file name in the folder beside the store, the
// same for names that differ only in letter case, and others for others.
TEST(JobRunnerTest, ConnectionLockFilesAreSafeForAnyName) {
  const std::string longName(250, 'x');
  for (const std::string& name :
       {std::string("../../etc/passwd"), std::string("Grüße \n;"), longName}) {
    const std::string path = ConnectionLockPath("/s/store.sqlite", name);
    ASSERT_EQ(path.rfind("/s/store.sqlite.locks/", 0), 0u) << path;
    const std::string file = path.substr(std::string("/s/store.sqlite.locks/").size());
    EXPECT_EQ(file.find('/'), std::string::npos) << file;
    EXPECT_LE(file.size(), 64u) << file;
  }
  EXPECT_EQ(ConnectionLockPath("/s", "Shop"), ConnectionLockPath("/s", "sHOP"));
  EXPECT_NE(ConnectionLockPath("/s", "shop"), ConnectionLockPath("/s", "shop2"));
  EXPECT_NE(ConnectionLockPath("/s", "a/b"), ConnectionLockPath("/s", "ab"));
}

}  // namespace
}  // namespace vaultwick::test
