// A scheduled backup from end to end: a store, the test clock at a due hour,
// the real job runner and the private MariaDB server.

#include <gtest/gtest.h>

#include <filesystem>

#include "readback/archive_check.h"
#include "shell/connections.h"
#include "shell/job_runner.h"
#include "shell/restore_points.h"
#include "shell/scheduler.h"
#include "shell/stored_backup.h"
#include "tests/support/stored_test_database.h"

namespace vaultwick::test {
namespace {

// The connection "nightly" backs up a database holding `rows` into the
// store's target folder, due at 22:00 every 12 hours.
StoredTestDatabase::Setup Nightly(const std::string& tag, const std::string& rows) {
  return {tag, "CREATE TABLE t(id INT PRIMARY KEY); INSERT INTO t VALUES " + rows, "nightly", 22,
          12};
}

// With the connection's test restore and encryption on, the runner gives the
// job the stored scratch database and archive password: the encrypted archive
// is proven there, and the scratch database goes.
TEST(ScheduledBackupTest, ATickAtADueHourBacksUpTestRestoresAndTheHistoryRecordsIt) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  const StoredTestDatabase stored(server, Nightly("sched", "(1), (2), (3)"));
  ASSERT_TRUE(stored.Ready());
  const TestDatabase& db = stored.database();
  const std::unique_ptr<SettingsStore> store = stored.OpenStore();
  const std::string scratchDatabase = db.name() + "_check";
  ASSERT_EQ(SetVerifyRestore(*store, "nightly", scratchDatabase), ChangeResult::Done);
  ASSERT_EQ(SetArchiveEncryption(*store, "nightly", true, std::nullopt), ChangeResult::Done);

  TestClock clock(LocalTime{2024, 3, 1, 10, 0, 20});
  JobRunner runner(store.get(), clock);
  Scheduler scheduler(*store, runner, clock);
  EXPECT_EQ(scheduler.Tick(ListConnections(*store)).started, (std::vector<std::string>{"nightly"}));
  ASSERT_TRUE(runner.WaitForAll(std::chrono::seconds(120)));

  const std::string archive = stored.ArchivePath();
  ASSERT_TRUE(std::filesystem::exists(archive));
  std::string error;
  EXPECT_EQ(ReadSqlMember(archive, &error), std::nullopt);
  EXPECT_NE(ReadSqlMember(archive, &error, StopToken::Never(), {},
                          ReadStoredConnection(*store, "nightly")->archivePassword),
            std::nullopt)
      << error;
  std::vector<HistoryRow> rows = ReadHistory(*store, "nightly", 5);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "Complete");
  EXPECT_EQ(rows[0].endText, "Backup complete");
  EXPECT_EQ(rows[0].startedBy, "schedule");
  EXPECT_EQ(rows[0].rows, 3);
  EXPECT_EQ(rows[0].archiveSize, static_cast<std::int64_t>(std::filesystem::file_size(archive)));
  EXPECT_EQ(rows[0].archiveChecked, true);
  EXPECT_EQ(rows[0].verified, "verified") << rows[0].verifyDetail;
  std::vector<ResultRow> scratchLeft;
  ASSERT_TRUE(db.Query("SHOW DATABASES LIKE '" + scratchDatabase + "'", &scratchLeft));
  EXPECT_TRUE(scratchLeft.empty());
}

// Runs through the runner on the real clock: each placed archive turns the
// one it replaces into a restore point, a failed run deletes nothing, and a
// complete one prunes by the policy (here: nothing but the newest), yet
// keeps the last point whose test restore verified, and its history row
// names what it deleted.
TEST(ScheduledBackupTest, RunsKeepReplacedArchivesAndPruneOnlyAfterACompleteRun) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  const StoredTestDatabase points(server, Nightly("points", "(1), (2)"));
  ASSERT_TRUE(points.Ready());
  const TestDatabase& db = points.database();
  const std::unique_ptr<SettingsStore> store = points.OpenStore();
  ASSERT_EQ(SetKeepPolicy(*store, "nightly", KeepPolicy{0, 0, 0, 0}), ChangeResult::Done);
  const SystemClock clock;
  JobRunner runner(store.get(), clock);
  const auto run = [&] {
    const std::optional<StoredConnection> stored = ReadStoredConnection(*store, "nightly");
    auto request = BackupRequestFor("nightly", stored->profile, stored->saveTo);
    EXPECT_EQ(runner.Start(request, JobOrigin::Command, StartRule::Always), JobStart::Started);
    EXPECT_TRUE(runner.WaitForAll(std::chrono::seconds(120)));
    return ReadHistory(*store, "nightly", 1).at(0);
  };
  const auto files = [&] {
    std::vector<std::string> paths;
    for (const ArchiveFile& file : ListArchiveFiles(points.targetFolder(), "nightly")) {
      paths.push_back(file.path);
    }
    return paths;
  };

  ASSERT_EQ(SetVerifyRestore(*store, "nightly", db.name() + "_check"), ChangeResult::Done);
  EXPECT_EQ(run().verified, "verified");
  ASSERT_EQ(SetVerifyRestore(*store, "nightly", std::nullopt), ChangeResult::Done);
  EXPECT_EQ(run().pruned, "");
  const std::vector<std::string> two = files();
  ASSERT_EQ(two.size(), 2u) << "nightly.zip and the verified point";

  ConnectionProfile spoiled = ReadStoredConnection(*store, "nightly")->profile;
  const std::string database = spoiled.server.database;
  spoiled.server.database += "_missing";
  ASSERT_EQ(ApplyConnectionChanges(*store, "nightly", spoiled), ChangeResult::Done);
  EXPECT_EQ(run().result, "SelectFailed");
  EXPECT_EQ(files(), two);

  spoiled.server.database = database;
  ASSERT_EQ(ApplyConnectionChanges(*store, "nightly", spoiled), ChangeResult::Done);
  const HistoryRow last = run();
  EXPECT_EQ(last.result, "Complete");
  // The second run's archive became a point and went; the verified one stays.
  EXPECT_EQ(files(), two);
  EXPECT_EQ(last.pruned.find("nightly-"), 0u) << last.pruned;
  EXPECT_EQ(last.pruned.find('\n'), std::string::npos) << last.pruned;
}

}  // namespace
}  // namespace vaultwick::test
