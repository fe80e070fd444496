#pragma once

// Runs of the connection "shop" that place archives of random bytes an hour
// apart into a target folder, each followed by its off-site step, to a
// remote the test names: what shell/offsite_copy.h does after a real run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "backup/restore_point_layout.h"
#include "shell/connections.h"
#include "shell/history.h"
#include "shell/offsite_copy.h"
#include "shell/offsite_settings.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {

class OffsiteFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AddConnectionNamed(*store_, "shop"), ChangeResult::Done);
    // Every point of a day's runs an hour apart stays, unless a test says.
    ASSERT_EQ(SetKeepPolicy(*store_, "shop", KeepPolicy{24, 0, 0, 0}), ChangeResult::Done);
    std::filesystem::create_directories(target_);
  }

  void UseRemote(const RcloneSettings& rclone) {
    ASSERT_TRUE(SaveOffsiteSettings(*store_, {rclone.remote, rclone.configFile}));
    rclone_ = rclone;
  }

  // Places an archive of `size` random bytes as shop.zip an hour after the
  // last (the one it replaces becomes a restore point) and returns the row
  // of the run that placed it.
  HistoryRow Place(std::size_t size, bool verified = false) {
    clock_.Advance(std::chrono::hours(1));
    KeptArchive kept;
    EXPECT_EQ(KeepReplacedArchive(target_, "shop", &kept), 0);
    const std::string archive = CurrentArchivePath(target_, "shop");
    std::filesystem::remove(archive);
    std::mt19937 random(static_cast<unsigned>(++runs_));
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
      byte = static_cast<char>(random());
    }
    WriteFileBytes(archive, bytes);
    const std::int64_t placed = ToUnixSeconds(clock_.Now());
    const struct timespec times[2] = {{placed, 0}, {placed, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, archive.c_str(), times, 0), 0);
    BackupOutcome outcome;
    outcome.result = BackupResult::Complete;
    outcome.archiveSize = size;
    outcome.archiveChecked = true;
    if (verified) {
      outcome.verifyRestore = VerifyRestoreOutcome{VerifyRestoreOutcome::Result::Verified, ""};
    }
    return MakeHistoryRow(JobEnded{"shop", JobOrigin::Schedule, outcome, clock_.Now(), 0, {}},
                          clock_.Now());
  }

  // The off-site step after the run of `row`, as the job runner takes it.
  HistoryRow Offsite(HistoryRow row, bool encrypted = false) {
    std::optional<OffsitePlan> plan = PlanOffsiteCopy(*store_, target_, row, encrypted, clock_);
    if (!plan) {
      return row;
    }
    const OffsiteResult result =
        RunOffsiteCopy(*plan, std::chrono::steady_clock::now() + std::chrono::minutes(3), stop_,
                       ToUnixSeconds(clock_.Now()));
    RecordOffsiteCopy(*store_, *plan, result, row);
    store_->AppendHistory(row);
    return row;
  }

  HistoryRow Run(std::size_t size = 3000, bool verified = false) {
    return Offsite(Place(size, verified));
  }

  // The remote name of the archive the last run placed.
  std::string LastFile() const {
    return RestorePointFileName("shop",
                                std::chrono::time_point_cast<std::chrono::seconds>(clock_.Now()));
  }

  // The names the store gives shop's copies, and whether each is sent.
  std::vector<std::pair<std::string, bool>> Copies() {
    std::vector<std::pair<std::string, bool>> copies;
    for (const OffsiteCopyRow& row : store_->ReadOffsiteCopies("shop", rclone_.remote)) {
      copies.emplace_back(row.file, row.sent);
    }
    return copies;
  }

  RcloneRemote Remote() {
    return RcloneRemote(rclone_, std::chrono::steady_clock::now() + std::chrono::minutes(3), stop_);
  }

  // The files in REMOTE/shop.
  std::vector<std::string> RemoteFiles() {
    std::vector<std::string> files;
    for (const RemoteEntry& entry : Remote().List("shop").entries) {
      files.push_back(entry.file);
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  ScratchFolder scratch_;
  std::unique_ptr<SettingsStore> store_ = SettingsStore::Open(scratch_.File("s.sqlite"));
  std::string target_ = scratch_.File("target");
  TestClock clock_{LocalTime{2024, 1, 1, 0, 0, 0}};
  RcloneSettings rclone_;
  StopToken stop_;
  int runs_ = 0;
};

}  // namespace vaultwick::test
