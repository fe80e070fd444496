// Runs across simulated days, each followed by the prune a real run ends
// with: which restore points remain, what each history row says it deleted,
// and what is never touched.

#include "shell/restore_points.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "shell/connections.h"
#include "shell/history.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::minutes;

class TestLock final : public HeldConnectionLock {
 public:
  const std::string& Connection() const override { return name_; }

 private:
  std::string name_ = "shop";
};

class RestorePointRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AddConnectionNamed(*store_, "shop"), ChangeResult::Done);
    fs::create_directories(target_);
  }

  // One run that starts now and ends `result`, as the job and the runner
  // end it: a placed archive replaces shop.zip (which becomes a point) a
  // minute in, and the prune comes before the history row is written.
  void Run(BackupResult result, bool verified = false) {
    const WallTime started = clock_.Now();
    BackupOutcome outcome;
    outcome.result = result;
    clock_.Advance(minutes(1));
    if (result == BackupResult::Complete || result == BackupResult::CompleteWithErrors) {
      KeptArchive kept;
      ASSERT_EQ(KeepReplacedArchive(target_, "shop", &kept), 0);
      const std::string archive = CurrentArchivePath(target_, "shop");
      const std::string content = "archive " + std::to_string(++runs_);
      fs::remove(archive);
      WriteFileBytes(archive, content);
      const std::int64_t placed = ToUnixSeconds(clock_.Now());
      const struct timespec times[2] = {{placed, 0}, {placed, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, archive.c_str(), times, 0), 0);
      outcome.archiveSize = content.size();
      outcome.archiveChecked = true;
      if (verified) {
        outcome.verifyRestore = VerifyRestoreOutcome{VerifyRestoreOutcome::Result::Verified, ""};
      }
    }
    clock_.Advance(minutes(1));
    HistoryRow row = MakeHistoryRow(JobEnded{"shop", JobOrigin::Schedule, outcome, started, 0, {}},
                                    clock_.Now());
    PruneAfterRun(*store_, target_, row, clock_, lock_);
    store_->AppendHistory(row);
  }

  // File names of shop's archives, oldest first.
  std::vector<std::string> Left() {
    std::vector<std::string> names;
    for (const RestorePoint& point : ListRestorePoints(*store_, target_, "shop")) {
      names.insert(names.begin(), fs::path(point.file.path).filename().string());
    }
    return names;
  }

  // Every file name the history says a prune deleted.
  std::vector<std::string> Pruned() {
    std::vector<std::string> names;
    for (const HistoryRow& row : store_->ReadHistory("shop", 1000)) {
      std::stringstream lines(row.pruned);
      for (std::string line; std::getline(lines, line);) {
        names.push_back(line);
      }
    }
    return names;
  }

  ScratchFolder scratch_;
  std::unique_ptr<SettingsStore> store_ = SettingsStore::Open(scratch_.File("s.sqlite"));
  std::string target_ = scratch_.File("target");
  TestClock clock_{LocalTime{2024, 1, 1, 2, 0, 0}};
  TestLock lock_;
  int runs_ = 0;
};

// A quarter of daily runs under the default policy. Files that are not
// shop's points (another connection's archive, notes, a name of ours with
// a suffix) are neither counted nor touched.
TEST_F(RestorePointRunsTest, DailyRunsKeepTheDefaultPolicyAndLeaveForeignFilesAlone) {
  const std::string points = RestorePointFolder(target_, "shop");
  fs::create_directories(points);
  const std::vector<std::string> foreign = {
      points + "/notes.txt", points + "/shop-20240101T020100Z.zip.bak",
      points + "/shop-20230101T020100Z.zip.d/x", target_ + "/other.zip", target_ + "/shop.zip.1"};
  for (const std::string& path : foreign) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFileBytes(path, "not ours: " + path);
  }

  for (int day = 0; day < 91; ++day) {
    Run(BackupResult::Complete);
    clock_.Advance(std::chrono::hours(24) - minutes(2));
  }
  EXPECT_EQ(
      Left(),
      (std::vector<std::string>{
          "shop-20240131T020100Z.zip", "shop-20240229T020100Z.zip", "shop-20240310T020100Z.zip",
          "shop-20240317T020100Z.zip", "shop-20240324T020100Z.zip", "shop-20240325T020100Z.zip",
          "shop-20240326T020100Z.zip", "shop-20240327T020100Z.zip", "shop-20240328T020100Z.zip",
          "shop-20240329T020100Z.zip", "shop-20240330T020100Z.zip", "shop.zip"}));
  for (const std::string& path : foreign) {
    EXPECT_EQ(FileBytes(path), "not ours: " + path);
  }
  // Each of the other 79 points was deleted once, by a run that says so.
  std::vector<std::string> pruned = Pruned();
  std::sort(pruned.begin(), pruned.end());
  EXPECT_EQ(pruned.size(), 79u);
  EXPECT_EQ(std::adjacent_find(pruned.begin(), pruned.end()), pruned.end());
  EXPECT_EQ(pruned.front(), "shop-20240101T020100Z.zip");
}

// Failed and partial runs delete nothing; a complete one keeps the newest
// and the last verified point even when the policy keeps nothing else.
TEST_F(RestorePointRunsTest, OnlyACompleteRunPrunesAndNeverTheNewestOrLastVerified) {
  ASSERT_EQ(SetKeepPolicy(*store_, "shop", KeepPolicy{0, 0, 0, 0}), ChangeResult::Done);
  Run(BackupResult::Complete, true);
  clock_.Advance(std::chrono::hours(24));
  Run(BackupResult::Complete);
  EXPECT_EQ(Left(), (std::vector<std::string>{"shop-20240101T020100Z.zip", "shop.zip"}));

  const std::vector<std::string> before = {"shop-20240101T020100Z.zip", "shop-20240102T020300Z.zip",
                                           "shop.zip"};
  for (BackupResult failed : {BackupResult::ConnectFailed, BackupResult::Stopped,
                              BackupResult::CompleteWithErrors, BackupResult::ServerLost}) {
    clock_.Advance(std::chrono::hours(24));
    Run(failed);
  }
  // The partial run placed its archive (its predecessor became a point) and
  // deleted nothing.
  EXPECT_EQ(Left(), before);
  EXPECT_TRUE(Pruned().empty());

  clock_.Advance(std::chrono::hours(24));
  Run(BackupResult::Complete);
  EXPECT_EQ(Left(), (std::vector<std::string>{"shop-20240101T020100Z.zip", "shop.zip"}));
  EXPECT_EQ(store_->ReadHistory("shop", 1)[0].pruned,
            "shop-20240105T020900Z.zip\nshop-20240102T020300Z.zip");
}

TEST(RestorePointAtTest, TakesTheNewestAtOrBeforeTheTime) {
  const auto at = [](int hour) { return WallTime(std::chrono::hours(hour)); };
  std::vector<RestorePoint> points;
  for (int hour : {30, 20, 10}) {
    ArchiveFile file;
    file.time = ArchiveTime(std::chrono::hours(hour));
    points.push_back({file, std::nullopt});
  }
  EXPECT_EQ(PointAtOrBefore(points, at(25)), &points[1]);
  EXPECT_EQ(PointAtOrBefore(points, at(20)), &points[1]);
  EXPECT_EQ(PointAtOrBefore(points, at(99)), &points[0]);
  EXPECT_EQ(PointAtOrBefore(points, at(9)), nullptr);
}

TEST(RestorePointAtTest, ReadsADateWithOrWithoutItsMinute) {
  const TestClock clock;
  EXPECT_EQ(ParseRestoreAt("2024-05-06 09:15", clock),
            clock.FromLocalTime(LocalTime{2024, 5, 6, 9, 15, 0}));
  EXPECT_EQ(ParseRestoreAt("2024-05-06", clock), clock.FromLocalTime(LocalTime{2024, 5, 6}));
  for (const char* text : {"2024-05-06 9:15", "2024-05-06 09:15:00", "06.05.2024", "2024-13-01",
                           "2024-05-06 24:00", "yesterday", ""}) {
    EXPECT_EQ(ParseRestoreAt(text, clock), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace vaultwick::test
