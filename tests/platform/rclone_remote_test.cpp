// The off-site copy against real storage servers: each test runs once per
// server kind (SFTP, WebDAV, S3), inside a server that scripts/test-remote
// started for it.

#include "platform/rclone_remote.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "tests/platform/test_remote.h"

namespace vaultwick {
namespace {

using std::chrono::steady_clock;
using test::TestRemote;

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = TestRemote::FromEnvironment();
    if (!server_) {
      GTEST_SKIP() << "no storage server: run through ctest (scripts/test-remote)";
    }
    local_ = PrivateTempFolder::Create();
    ASSERT_TRUE(local_);
  }

  RcloneRemote Remote() {
    return RcloneRemote(server_->Settings(), steady_clock::now() + std::chrono::minutes(3), stop_);
  }

  std::string Archive(const std::string& name, std::size_t size) {
    std::string path = local_->FilePath(name);
    test::WriteFile(path, test::RandomBytes(size, static_cast<unsigned>(size)));
    return path;
  }

  std::optional<TestRemote> server_;
  std::optional<PrivateTempFolder> local_;
  StopToken stop_;
};

TEST_F(RemoteTest, CopiesProvesListsFetchesAndDeletes) {
  RcloneRemote remote = Remote();
  RemoteOutcome outcome;
  std::optional<HashKind> kind = remote.AskHashKind(outcome);
  ASSERT_TRUE(kind) << outcome.text;
  EXPECT_EQ(*kind, server_->kind == "webdav" ? HashKind::None : HashKind::Md5);

  std::string archive = Archive("shop-2024-05-01.zip", 300000);
  outcome = remote.Copy(archive, "shop", "shop-2024-05-01.zip");
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  outcome = remote.Prove(archive, "shop", "shop-2024-05-01.zip");
  EXPECT_TRUE(outcome.ok()) << outcome.text;

  RemoteListing listing = remote.List("shop");
  ASSERT_TRUE(listing.outcome.ok()) << listing.outcome.text;
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].file, "shop-2024-05-01.zip");
  EXPECT_EQ(listing.entries[0].size, 300000u);
  EXPECT_EQ(listing.entries[0].hash.empty(), *kind == HashKind::None);
  EXPECT_TRUE(remote.List("nobody").entries.empty());

  std::string fetchedFolder;
  {
    FetchedFile fetched = remote.Fetch("shop", "shop-2024-05-01.zip");
    ASSERT_TRUE(fetched.outcome.ok()) << fetched.outcome.text;
    EXPECT_EQ(test::ReadFile(fetched.path), test::ReadFile(archive));
    struct stat facts {};
    ASSERT_EQ(stat(fetched.path.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0600u);
    fetchedFolder = fetched.folder->path();
  }
  EXPECT_FALSE(std::filesystem::exists(fetchedFolder));

  outcome = remote.Check();
  EXPECT_TRUE(outcome.ok()) << outcome.text;

  outcome = remote.Delete("shop", "shop-2024-05-01.zip");
  EXPECT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_TRUE(remote.List("shop").entries.empty());
  outcome = remote.Delete("shop", "shop-2024-05-01.zip");
  EXPECT_TRUE(outcome.ok()) << "a file already gone: " << outcome.text;
}

TEST_F(RemoteTest, ADamagedRemoteCopyIsFoundAndSentAgain) {
  RcloneRemote remote = Remote();
  std::string archive = Archive("shop-1.zip", 200000);
  ASSERT_TRUE(remote.Copy(archive, "damaged", "shop-1.zip").ok());
  ASSERT_TRUE(server_->DamageOneByte("damaged", "shop-1.zip", 123456));

  // An S3 server answers with the hash it computed on arrival: only the
  // bytes read back show damage done since.
  bool readBack = server_->HashIsRecordedOnArrival();
  RemoteOutcome outcome = remote.Prove(archive, "damaged", "shop-1.zip", readBack);
  EXPECT_EQ(outcome.code, RemoteCode::Differs) << outcome.text;
  EXPECT_NE(outcome.text.find("differs from the archive"), std::string::npos) << outcome.text;
  // A fetch measures what it got against what was sent.
  std::optional<LocalFacts> sent = remote.Facts(archive, outcome);
  ASSERT_TRUE(sent) << outcome.text;
  FetchedFile fetched = remote.Fetch("damaged", "shop-1.zip", sent);
  EXPECT_EQ(fetched.outcome.code, RemoteCode::Differs) << fetched.outcome.text;
  EXPECT_TRUE(fetched.path.empty());

  ASSERT_TRUE(remote.Copy(archive, "damaged", "shop-1.zip").ok());
  outcome = remote.Prove(archive, "damaged", "shop-1.zip", readBack);
  EXPECT_TRUE(outcome.ok()) << outcome.text;
}

// Slows every rclone this process starts, so that a copy is still under way
// when the test acts.
class SlowCopies {
 public:
  SlowCopies() { setenv("RCLONE_BWLIMIT", "1M", 1); }
  ~SlowCopies() { unsetenv("RCLONE_BWLIMIT"); }
};

TEST_F(RemoteTest, AServerStoppedMidCopyFailsInRclonesWordsAndTheNextCopyWorks) {
  std::string archive = Archive("shop-1.zip", 6 * 1024 * 1024);
  RemoteOutcome outcome;
  {
    SlowCopies slow;
    std::thread copy([&] { outcome = Remote().Copy(archive, "stopped", "shop-1.zip"); });
    // The server has begun to store the file: the copy is under way.
    std::string onDisk = server_->DiskPath("stopped", "shop-1.zip");
    auto giveUp = steady_clock::now() + std::chrono::minutes(1);
    while (FileSize(onDisk).value_or(0) == 0 && steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GT(FileSize(onDisk).value_or(0), 0u);
    EXPECT_TRUE(server_->StopServer());
    copy.join();
  }
  EXPECT_EQ(outcome.code, RemoteCode::Failed);
  EXPECT_FALSE(outcome.text.empty());
  EXPECT_EQ(outcome.text.find("rclone ended with status"), std::string::npos) << outcome.text;

  ASSERT_TRUE(server_->StartServer());
  RcloneRemote remote = Remote();
  outcome = remote.Copy(archive, "stopped", "shop-1.zip");
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  outcome = remote.Prove(archive, "stopped", "shop-1.zip");
  EXPECT_TRUE(outcome.ok()) << outcome.text;
}

}  // namespace
}  // namespace vaultwick
