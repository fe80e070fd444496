// Stale-backup alerts as the scheduler's ticks claim them: once when a
// connection turns stale, once a day while it stays so, afresh after a good
// run; a connection never backed up counts from the first look; and two
// schedulers on one store claim each alert once.

#include "shell/stale_alerts.h"

#include <gtest/gtest.h>

#include "shell/connections.h"
#include "shell/scheduler.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

using std::chrono::hours;

class NoStarts : public JobStarter {
 public:
  JobStart Start(std::unique_ptr<BackupRequest>&, JobOrigin, StartRule) override {
    return JobStart::NoThread;
  }
  int RunningJobCount() const override { return 0; }
};

class StaleAlertsTest : public ::testing::Test {
 protected:
  StaleAlertsTest() : store_(SettingsStore::Open(scratch_.File("s.sqlite"))) {
    AlertSettings settings;
    settings.command = "true";
    SaveAlertSettings(*store_, settings);
  }

  void Add(const std::string& name, int periodHours) {
    ASSERT_EQ(AddConnectionNamed(*store_, name), ChangeResult::Done);
    ASSERT_EQ(ApplyConnectionChanges(*store_, name, {name, {}, 0, periodHours}),
              ChangeResult::Done);
  }

  void GoodRun(const std::string& name) {
    HistoryRow row;
    row.connection = name;
    row.startedBy = "schedule";
    row.result = "Complete";
    row.startedAt = row.endedAt = ToUnixSeconds(clock_.Now());
    store_->AppendHistory(row);
  }

  // The connections a tick of `scheduler` `after` from now alerts about.
  std::vector<std::string> TickAfter(Scheduler& scheduler, std::chrono::seconds after) {
    clock_.Advance(after);
    std::vector<std::string> names;
    for (const PendingAlert& alert : scheduler.Tick({}).staleAlerts) {
      EXPECT_EQ(alert.alert.event, AlertEvent::Stale);
      names.push_back(alert.alert.connection);
    }
    return names;
  }

  ScratchFolder scratch_;
  std::unique_ptr<SettingsStore> store_;
  TestClock clock_{LocalTime{2024, 3, 1, 10, 30, 0}};
  NoStarts starter_;
};

TEST_F(StaleAlertsTest, OnceWhenStaleThenDailyAndAfreshAfterAGoodRun) {
  using Names = std::vector<std::string>;
  Add("hourly", 1);  // stale 3 hours after its last good run
  Add("daily", 24);  // stale after 49 hours
  GoodRun("hourly");
  GoodRun("daily");
  Scheduler one(*store_, starter_, clock_);
  Scheduler two(*store_, starter_, clock_);
  EXPECT_EQ(TickAfter(one, hours(0)), Names{});
  EXPECT_EQ(TickAfter(one, hours(2)), Names{});
  EXPECT_EQ(TickAfter(one, hours(1) + std::chrono::seconds(1)), Names{"hourly"});
  EXPECT_EQ(TickAfter(two, std::chrono::seconds(0)), Names{});  // the other scheduler sent it
  EXPECT_EQ(TickAfter(one, std::chrono::minutes(1)), Names{});  // once an hour is looked
  EXPECT_EQ(TickAfter(one, hours(22)), Names{});
  EXPECT_EQ(TickAfter(two, hours(2)), Names{"hourly"});  // a day after the first
  GoodRun("hourly");
  EXPECT_EQ(TickAfter(one, hours(1)), Names{});
  EXPECT_EQ(TickAfter(one, hours(3)), Names{"hourly"});  // a new staleness: at once
  EXPECT_EQ(TickAfter(one, hours(24)), (Names{"daily", "hourly"}));
}

TEST_F(StaleAlertsTest, AConnectionNeverBackedUpCountsFromTheFirstLook) {
  Scheduler scheduler(*store_, starter_, clock_);
  EXPECT_TRUE(TickAfter(scheduler, hours(0)).empty());
  Add("new", 1);
  EXPECT_TRUE(TickAfter(scheduler, hours(1)).empty());
  EXPECT_TRUE(TickAfter(scheduler, hours(3)).empty());
  EXPECT_EQ(TickAfter(scheduler, hours(1)), std::vector<std::string>{"new"});
}

TEST_F(StaleAlertsTest, NothingIsClaimedWithoutAChannel) {
  Add("hourly", 1);
  SaveAlertSettings(*store_, AlertSettings{});
  Scheduler scheduler(*store_, starter_, clock_);
  EXPECT_TRUE(TickAfter(scheduler, hours(5)).empty());
  AlertSettings settings;
  settings.webhook = "http://127.0.0.1:1/";
  SaveAlertSettings(*store_, settings);
  EXPECT_TRUE(TickAfter(scheduler, hours(1)).empty());  // watched from now
}

}  // namespace
}  // namespace vaultwick::test
