// The request's hand-over between worker and progress window, and the ends
// that need no server: whoever frees the request, it is freed exactly once,
// and runningJobs is back to 0 after every way out.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "backup/backup_request.h"
#include "backup/run_backup_job.h"
#include "backup/server_address_internal.h"
#include "tests/backup/job_test_support.h"

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

TEST(ServerAddressTest, PortComesFromHostOrDefaults) {
  auto plain = ParseServerAddress("db.example");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->host, "db.example");
  EXPECT_EQ(plain->port, 3306u);
  auto withPort = ParseServerAddress("127.0.0.1:3307");
  ASSERT_TRUE(withPort);
  EXPECT_EQ(withPort->host, "127.0.0.1");
  EXPECT_EQ(withPort->port, 3307u);
  auto v6 = ParseServerAddress("[::1]:3307");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 3307u);
  EXPECT_EQ(ParseServerAddress("[fe80::1]")->port, 3306u);
  EXPECT_EQ(ParseServerAddress("fe80::1")->host, "fe80::1");
  for (const char* bad : {"h:", "h:0", "h:65536", "h:33o6", "[::1", "[::1]3307", "[::1]:"}) {
    EXPECT_FALSE(ParseServerAddress(bad)) << bad;
  }
}

TEST(ConnectionNameTest, NamesThatLeaveTheFolderAreRefused) {
  EXPECT_TRUE(IsValidConnectionName("shop"));
  EXPECT_TRUE(IsValidConnectionName("..shop"));
  for (std::string bad :
       std::vector<std::string>{"", ".", "..", "a/b", "/shop", "../shop", std::string("a\0b", 3)}) {
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
    request->name = refusedName ? ".." : "shop";
    request->host = "127.0.0.1:" + std::to_string(ClosedLoopbackPort());
    request->login = "nobody";
    request->database = "nothing";
    request->saveTo = target_.string();
    box.Attach(*request);
    return request;
  }

  std::shared_ptr<std::atomic<int>> frees_;
  fs::path target_;
};

TEST_F(HandOverTest, RefusedNameTouchesNothingAndWorkerFrees) {
  OutcomeBox box;
  ASSERT_TRUE(StartBackupJob(NewRequest(true, box)));
  auto outcome = box.Wait();
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
