// A scheduled backup from end to end: a store, the test clock at a due hour,
// the real job runner and the private MariaDB server.

#include <gtest/gtest.h>

#include <filesystem>

#include "shell/connections.h"
#include "shell/job_runner.h"
#include "shell/scheduler.h"
#include "shell/target_folder.h"
#include "tests/backup/test_database.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

// With the connection's test restore on, the runner gives the job the stored
// scratch database: the archive is proven there, and the scratch database goes.
TEST(ScheduledBackupTest, ATickAtADueHourBacksUpTestRestoresAndTheHistoryRecordsIt) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "sched");
  ASSERT_TRUE(db.ok()) << db.error();
  ASSERT_TRUE(db.Execute("CREATE TABLE t(id INT PRIMARY KEY); INSERT INTO t VALUES (1), (2), (3)"));

  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  std::optional<std::string> target = CheckTargetFolder(scratch.File("archives"));
  ASSERT_TRUE(target);
  SaveTargetFolder(*store, *target);
  ASSERT_EQ(AddConnectionNamed(*store, "nightly"), ChangeResult::Done);
  ASSERT_EQ(ApplyConnectionChanges(*store, "nightly",
                                   {"nightly",
                                    {server.host + ":" + std::to_string(server.port),
                                     server.user,
                                     server.password,
                                     db.name(),
                                     {},
                                     {}},
                                    22,
                                    12}),
            ChangeResult::Done);
  const std::string scratchDatabase = db.name() + "_check";
  ASSERT_EQ(SetVerifyRestore(*store, "nightly", scratchDatabase), ChangeResult::Done);

  TestClock clock(LocalTime{2024, 3, 1, 10, 0, 20});
  JobRunner runner(store.get(), clock);
  Scheduler scheduler(*store, runner, clock);
  EXPECT_EQ(scheduler.Tick(ListConnections(*store)).started, (std::vector<std::string>{"nightly"}));
  ASSERT_TRUE(runner.WaitForAll(std::chrono::seconds(120)));

  const std::string archive = *target + "/nightly.zip";
  ASSERT_TRUE(std::filesystem::exists(archive));
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

}  // namespace
}  // namespace vaultwick::test
