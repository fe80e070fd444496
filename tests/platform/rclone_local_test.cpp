// The rclone driver's own ends, against a folder of this machine as the
// remote (rclone takes a plain path for one): no server needed.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/rclone_remote.h"
#include "tests/platform/test_remote.h"

namespace vaultwick {
namespace {

using std::chrono::steady_clock;

class RcloneLocalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = PrivateTempFolder::Create();
    ASSERT_TRUE(folder_);
    std::filesystem::create_directory(folder_->FilePath("remote"));
    // An empty configuration: nothing of the user's is read.
    test::WriteFile(folder_->FilePath("rclone.conf"), "");
  }

  RcloneSettings Settings(std::string remote = {}) const {
    return {remote.empty() ? folder_->FilePath("remote") : remote, folder_->FilePath("rclone.conf"),
            "rclone"};
  }

  RcloneRemote Remote(std::chrono::milliseconds limit = std::chrono::minutes(2)) {
    return RcloneRemote(Settings(), steady_clock::now() + limit, stop_);
  }

  std::string Archive(const std::string& name, std::size_t size) {
    std::string path = folder_->FilePath(name);
    test::WriteFile(path, test::RandomBytes(size, 7));
    return path;
  }

  std::optional<PrivateTempFolder> folder_;
  StopToken stop_;
};

TEST_F(RcloneLocalTest, FailuresSayWhatFailedInRclonesWords) {
  std::string archive = Archive("a.zip", 1000);
  auto deadline = steady_clock::now() + std::chrono::minutes(1);

  RcloneSettings missing = Settings();
  missing.program = "/nonexistent/rclone";
  RemoteOutcome outcome = RcloneRemote(missing, deadline).Copy(archive, "shop", "a.zip");
  EXPECT_EQ(outcome.code, RemoteCode::NotInstalled);
  EXPECT_EQ(outcome.text, "rclone is not installed: there is no program \"/nonexistent/rclone\"");

  RcloneRemote unknown(Settings("vwnosuch:vault"), deadline);
  outcome = unknown.Copy(archive, "shop", "a.zip");
  EXPECT_EQ(outcome.code, RemoteCode::Failed);
  EXPECT_NE(outcome.text.find("didn't find section in config file"), std::string::npos)
      << outcome.text;
  outcome = unknown.Check();
  EXPECT_EQ(outcome.text.rfind("Could not write to the remote: ", 0), 0u) << outcome.text;
}

TEST_F(RcloneLocalTest, ACopyPastItsTimeOrStoppedIsEnded) {
  std::string archive = Archive("a.zip", 6 * 1024 * 1024);
  setenv("RCLONE_BWLIMIT", "1M", 1);
  auto started = steady_clock::now();
  RemoteOutcome outcome = Remote(std::chrono::milliseconds(500)).Copy(archive, "shop", "a.zip");
  EXPECT_EQ(outcome.code, RemoteCode::TimedOut);
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));

  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop_.RequestStop();
  });
  outcome = Remote().Copy(archive, "shop", "a.zip");
  stopper.join();
  unsetenv("RCLONE_BWLIMIT");
  EXPECT_EQ(outcome.code, RemoteCode::Stopped);
}

TEST_F(RcloneLocalTest, AFetchIsCheckedAgainstWhatWasSentAndLeavesNothingBehind) {
  std::string archive = Archive("a.zip", 5000);
  std::string other = folder_->FilePath("b.zip");
  test::WriteFile(other, test::RandomBytes(5000, 8));
  RcloneRemote remote = Remote();
  ASSERT_TRUE(remote.Copy(archive, "shop", "a.zip").ok());
  RemoteOutcome outcome;
  std::optional<LocalFacts> sent = remote.Facts(archive, outcome);
  std::optional<LocalFacts> notSent = remote.Facts(other, outcome);
  ASSERT_TRUE(sent && notSent) << outcome.text;

  FetchedFile fetched = remote.Fetch("shop", "a.zip", sent);
  EXPECT_TRUE(fetched.outcome.ok()) << fetched.outcome.text;

  fetched = remote.Fetch("shop", "a.zip", notSent);
  EXPECT_EQ(fetched.outcome.code, RemoteCode::Differs);
  EXPECT_TRUE(fetched.path.empty());

  fetched = remote.Fetch("shop", "b.zip");
  EXPECT_EQ(fetched.outcome.code, RemoteCode::Missing);
  EXPECT_FALSE(fetched.folder);

  // A copy cut short on the remote is found by its size alone.
  std::filesystem::resize_file(folder_->FilePath("remote/shop/a.zip"), 4000);
  outcome = remote.Prove(archive, "shop", "a.zip");
  EXPECT_EQ(outcome.code, RemoteCode::Differs);
  EXPECT_EQ(outcome.text, "The remote copy differs from the archive: size 4000 instead of 5000");
}

}  // namespace
}  // namespace vaultwick
