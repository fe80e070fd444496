// The request's hand-over between worker and progress window, and the ends
// that need no server: whoever frees the request, it is freed exactly once,
// and runningJobs is back to 0 after every way out.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "backup/backup_request.h"
#include "backup/run_backup_job.h"
#include "tests/backup/job_test_support.h"

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

// Refused: names that leave the folder, that no file name can hold with
// ".zip" or ".sql" after them, with a backslash or with control characters.
TEST(ConnectionNameTest, NamesThatLeaveTheFolderOrCannotBeFilesAreRefused) {
  EXPECT_TRUE(IsValidConnectionName("shop"));
  EXPECT_TRUE(IsValidConnectionName("..shop"));
  EXPECT_TRUE(IsValidConnectionName("Gr\u00FC\u00DFe"));
  EXPECT_TRUE(IsValidConnectionName(std::string(251, 'n')));
  for (std::string bad :
       std::vector<std::string>{"", ".", "..", "a/b", "/shop", "../shop", std::string("a\0b", 3),
                                "a\\b", std::string(252, 'n'), "new\nline", "tab\t", "\x7F"}) {
    EXPECT_FALSE(IsValidConnectionName(bad)) << bad;
  }
}

// A loopback port where nothing listens.
unsigned ClosedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A loopback server that takes connections and never says a word.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd_, 4);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() {
    for (int client : clients_) {
      ::close(client);
    }
    ::close(fd_);
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Waits up to `seconds` for a client to connect; false when none came.
  bool AwaitClient(int seconds) {
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, seconds * 1000) != 1) {
      return false;
    }
    clients_.push_back(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    return true;
  }

 private:
  int fd_ = -1;
  unsigned port_ = 0;
  std::vector<int> clients_;
};

class HandOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frees_ = std::make_shared<std::atomic<int>>(0);
    target_ = fs::temp_directory_path() / ("vw-handover-" + std::to_string(::getpid()));
    fs::remove_all(target_);
    fs::create_directories(target_);
  }
  void TearDown() override { fs::remove_all(target_); }

  // A job that ends fast: a name that is refused, or a server that is not there.
  CountedRequest* NewRequest(bool refusedName, OutcomeBox& box) {
    auto* request = new CountedRequest(frees_);
    request->job.name = refusedName ? ".." : "shop";
    request->job.server.host = "127.0.0.1:" + std::to_string(ClosedLoopbackPort());
    request->job.server.login = "nobody";
    request->job.server.database = "nothing";
    request->job.saveTo = target_.string();
    box.Attach(*request);
    return request;
  }

  std::shared_ptr<std::atomic<int>> frees_;
  fs::path target_;
};

TEST_F(HandOverTest, RefusedNameTouchesNothingAndWorkerFrees) {
  OutcomeBox box;
  std::thread job = StartBackupJob(NewRequest(true, box));
  ASSERT_TRUE(job.joinable());
  auto outcome = box.Wait();
  job.join();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->result, BackupResult::InvalidName);
  EXPECT_EQ(outcome->endText, "Invalid connection name");
  EXPECT_EQ(*frees_, 1);
  EXPECT_EQ(runningJobs.load(), 0);
  EXPECT_TRUE(fs::is_empty(target_));
}

TEST_F(HandOverTest, WindowThatCouldNotBeMadeLeavesTheRequestToTheWorker) {
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(NewRequest(false, box),
                                            {.failToCreate = true, .closeAfterText = nullptr});
  auto outcome = box.Wait();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->endText, "Can't connect to MySQL server");
  window->Join();
  EXPECT_TRUE(window->Texts().empty());
  EXPECT_FALSE(window->FreedRequest());
  EXPECT_EQ(*frees_, 1);
  EXPECT_EQ(runningJobs.load(), 0);
}

TEST_F(HandOverTest, OpenWindowShowsEveryTextAndFreesAfterTheJob) {
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(NewRequest(false, box), {});
  auto outcome = box.Wait();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->result, BackupResult::ConnectFailed);
  EXPECT_EQ(*frees_, 0) << "the window is still open: the request is its to free";
  window->Close();
  window->Join();
  EXPECT_TRUE(window->FreedRequest());
  EXPECT_EQ(*frees_, 1);
  EXPECT_EQ(window->Texts(),
            (std::vector<std::string>{"Connecting...", "Can't connect to MySQL server"}));
}

TEST_F(HandOverTest, ClosedWindowShowsNothingMoreAndWorkerFrees) {
  OutcomeBox box;
  auto window = StandInProgressWindow::Open(
      NewRequest(false, box), {.closeAfterText = [](const std::string&) { return true; }});
  auto outcome = box.Wait();
  ASSERT_TRUE(outcome);
  window->Join();
  EXPECT_FALSE(window->FreedRequest());
  EXPECT_EQ(*frees_, 1);
  EXPECT_EQ(window->Texts(), std::vector<std::string>{"Connecting..."});
}

// A server that takes the connection and never answers holds neither a stop
// (seen at once, long before the connect timeout of 30 s) nor the job (the
// connect timeout ends it).
TEST_F(HandOverTest, SilentServerHoldsNeitherAStopNorTheJob) {
  SilentServer silent;
  OutcomeBox stoppedBox;
  CountedRequest* request = NewRequest(false, stoppedBox);
  request->job.server.host = silent.Host();
  const StopToken stop = request->stop;
  std::thread job = StartBackupJob(request);
  EXPECT_TRUE(silent.AwaitClient(20));
  stop.RequestStop();
  std::optional<BackupOutcome> stopped = stoppedBox.Wait(20);
  job.join();
  ASSERT_TRUE(stopped) << "the stop waited for the connect timeout";
  EXPECT_EQ(stopped->result, BackupResult::Stopped);
  EXPECT_EQ(stopped->endText, "Error occured");

  OutcomeBox timedOutBox;
  request = NewRequest(false, timedOutBox);
  request->job.server.host = silent.Host();
  request->job.server.timeouts.connectSeconds = 1;
  job = StartBackupJob(request);
  std::optional<BackupOutcome> timedOut = timedOutBox.Wait(20);
  job.join();
  ASSERT_TRUE(timedOut);
  EXPECT_EQ(timedOut->result, BackupResult::ConnectFailed);
  EXPECT_FALSE(timedOut->cause.empty());
  EXPECT_EQ(*frees_, 2);
  EXPECT_TRUE(fs::is_empty(target_));
}

// Close and job end race in every order; count frees after each round.
TEST_F(HandOverTest, RequestIsFreedExactlyOnceInEveryInterleaving) {
  std::mt19937 random(12345);
  constexpr int kRounds = 300;
  int freedByWindow = 0;
  for (int round = 0; round < kRounds; ++round) {
    OutcomeBox box;
    auto window = StandInProgressWindow::Open(NewRequest(round % 2 == 0, box), {});
    for (unsigned spin = random() % 2000; spin > 0; --spin) {
      std::this_thread::yield();
    }
    window->Close();
    window->Join();
    ASSERT_TRUE(box.Wait());
    freedByWindow += window->FreedRequest() ? 1 : 0;
    ASSERT_EQ(*frees_, round + 1) << "round " << round;
  }
  EXPECT_EQ(runningJobs.load(), 0);
  RecordProperty("freed_by_window", freedByWindow);
  RecordProperty("freed_by_worker", kRounds - freedByWindow);
}

}  // namespace
}  // namespace vaultwick::test
