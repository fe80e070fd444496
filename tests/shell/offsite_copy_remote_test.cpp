// The off-site step against real storage servers (SFTP, WebDAV, S3), each
// test once per kind inside a server that scripts/test-remote started:
// copy and proof, retention, a fetch equal to what was sent, a server
// stopped mid-copy, and a copy damaged on the server's disk.

#include <gtest/gtest.h>

#include <thread>

#include "platform/files.h"
#include "tests/platform/test_remote.h"
#include "tests/shell/offsite_fixture.h"

namespace vaultwick::test {
namespace {

class OffsiteRemoteTest : public OffsiteFixture {
 protected:
  void SetUp() override {
    server_ = TestRemote::FromEnvironment();
    if (!server_) {
      GTEST_SKIP() << "no storage server: run through ctest (scripts/test-remote)";
    }
    OffsiteFixture::SetUp();
    // One server serves every test of the run: each has a folder of its own.
    RcloneSettings settings = server_->Settings();
    settings.remote += "/" + test_;
    UseRemote(settings);
  }

  // Where the server keeps REMOTE/shop/<file> on this machine.
  std::string Folder() const { return test_ + "/shop"; }

  std::string LocalPoint(const std::string& file) const {
    return RestorePointFolder(target_, "shop") + "/" + file;
  }

  std::optional<TestRemote> server_;
  std::string test_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(OffsiteRemoteTest, CopiesProvesKeepsByThePolicyAndFetchesWhatWasSent) {
  ASSERT_EQ(SetKeepPolicy(*store_, "shop", KeepPolicy{1, 0, 0, 0}), ChangeResult::Done);
  HistoryRow first = Run(200000, true);
  EXPECT_EQ(first.offsite, kOffsiteCopied) << first.offsiteDetail;
  const std::string verified = LastFile();
  Run(200000);
  HistoryRow third = Run(200000);
  EXPECT_EQ(third.offsite, kOffsiteCopied) << third.offsiteDetail;
  // The newest, and the newest that verified, stay; the one between goes.
  const std::string newest = LastFile();
  EXPECT_EQ(RemoteFiles(), (std::vector<std::string>{verified, newest}));

  RemoteOutcome outcome;
  std::optional<LocalFacts> sent = Remote().Facts(LocalPoint(verified), outcome);
  ASSERT_TRUE(sent) << outcome.text;
  FetchedFile fetched = Remote().Fetch("shop", verified, sent);
  ASSERT_TRUE(fetched.outcome.ok()) << fetched.outcome.text;
  EXPECT_EQ(FileBytes(fetched.path), FileBytes(LocalPoint(verified)));
}

TEST_F(OffsiteRemoteTest, ACopyDamagedOnTheServerIsFoundByTheNextRunAndSentAgain) {
  Run(200000);
  const std::string damaged = LastFile();
  ASSERT_TRUE(server_->DamageOneByte(Folder(), damaged, 123456));
  HistoryRow next = Run(1000);
  EXPECT_EQ(next.offsite, kOffsiteCopied) << next.offsiteDetail;
  EXPECT_NE(next.offsiteDetail.find("sent again: " + damaged), std::string::npos)
      << next.offsiteDetail;
  const RemoteOutcome proven = Remote().Prove(LocalPoint(damaged), "shop", damaged, true);
  EXPECT_TRUE(proven.ok()) << proven.text;
}

TEST_F(OffsiteRemoteTest, AServerStoppedMidCopyLeavesThePointToTheNextRun) {
  HistoryRow row = Place(6 * 1024 * 1024);
  const std::string stopped = LastFile();
  setenv("RCLONE_BWLIMIT", "1M", 1);
  std::thread copy([&] { row = Offsite(row); });
  // The server has begun to store the file: the copy is under way.
  const std::string onDisk = server_->DiskPath(Folder(), stopped);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (FileSize(onDisk).value_or(0) == 0 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(server_->StopServer());
  copy.join();
  unsetenv("RCLONE_BWLIMIT");
  EXPECT_EQ(row.offsite, kOffsiteFailed);
  EXPECT_EQ(row.offsiteDetail.find("rclone ended with status"), std::string::npos)
      << row.offsiteDetail;
  EXPECT_TRUE(std::filesystem::exists(CurrentArchivePath(target_, "shop")));
  EXPECT_EQ(Copies(), (std::vector<std::pair<std::string, bool>>{{stopped, false}}));

  ASSERT_TRUE(server_->StartServer());
  HistoryRow next = Run(1000);
  EXPECT_EQ(next.offsiteDetail, "sent: " + stopped + "\nsent: " + LastFile());
  EXPECT_EQ(RemoteFiles(), (std::vector<std::string>{stopped, LastFile()}));
}

}  // namespace
}  // namespace vaultwick::test
