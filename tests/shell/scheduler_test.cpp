// The scheduler's due rule, its once-per-hour gate, and a tick against a real
// store with a starter that records what it is asked to start.

#include "shell/scheduler.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "shell/connections.h"
#include "shell/target_folder.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

LocalTime At(int hour, int minute, int second = 0, int day = 1) {
  return LocalTime{2024, 3, day, hour, minute, second};
}

std::vector<int> DueHours(int start, int period) {
  std::vector<int> hours;
  for (int hour = 0; hour < 24; ++hour) {
    if (IsDueAt(hour, start, period)) {
      hours.push_back(hour);
    }
  }
  return hours;
}

TEST(SchedulerTest, DueHoursFollowStartAndPeriod) {
  EXPECT_EQ(DueHours(0, 1).size(), 24u);
  EXPECT_EQ(DueHours(3, 6), (std::vector<int>{3, 9, 15, 21}));
  EXPECT_EQ(DueHours(22, 8), (std::vector<int>{6, 14, 22}));
  EXPECT_EQ(DueHours(5, 24), (std::vector<int>{5}));
  EXPECT_EQ(DueHours(13, 12), (std::vector<int>{1, 13}));
  EXPECT_EQ(DueHours(22, -8), DueHours(22, 8));
  EXPECT_TRUE(DueHours(0, 0).empty());
}

// The time a test puts the scheduler's clock at: a sign is not a digit.
TEST(SchedulerTest, ParsesTheTestClockTimeAndNothingElse) {
  EXPECT_EQ(ParseLocalTime("2024-03-01T10:00:05"), At(10, 0, 5));
  EXPECT_EQ(ParseLocalTime("2024-03-01 23:59:59"), At(23, 59, 59));
  for (const char* text : {"2024-03-01T-1:00:00", "2024-03-01T10:-5:00", "2024-03-01T10:00:-1",
                           "-024-03-01T10:00:00", "2024-03-01T24:00:00", "2024-03-01T10:00"}) {
    EXPECT_EQ(ParseLocalTime(text), std::nullopt) << text;
  }
}

// Each case is a run of ticks and whether each one opens its hour.
TEST(SchedulerTest, AnHourOpensOnceAtMinuteZeroOrAtTheFirstTickAfterIt) {
  struct Tick {
    std::optional<LocalTime> at;
    bool opens;
  };
  const std::vector<std::vector<Tick>> runs = {
      // Minimised at 09:59:30; a timer firing early gives two ticks in minute 0.
      {{At(9, 59, 30), false},
       {At(10, 0, 30), true},
       {At(10, 0, 55), false},
       {At(10, 1, 30), false},
       {At(11, 0, 30), true}},
      // Minimised at 10:00:10: no tick before, so hour 10 passes.
      {{At(10, 1, 10), false}, {At(10, 2, 10), false}, {At(11, 0, 10), true}},
      // A late tick skips minute 0; a machine wakes up hours later within an hour.
      {{At(9, 59, 40), false},
       {At(10, 1, 40), true},
       {At(10, 2, 40), false},
       {At(13, 25, 0), true},
       {At(13, 26, 0), false},
       {At(2, 30, 0, 2), true}},
      // The clock cannot be read; the hour after it still opens once.
      {{std::nullopt, false}, {At(10, 0, 1), true}, {std::nullopt, false}, {At(10, 0, 59), false}},
  };
  for (std::size_t r = 0; r < runs.size(); ++r) {
    HourlyGate gate;
    for (std::size_t t = 0; t < runs[r].size(); ++t) {
      EXPECT_EQ(gate.Opens(runs[r][t].at), runs[r][t].opens) << "run " << r << " tick " << t;
    }
  }
}

class RecordingStarter : public JobStarter {
 public:
  JobStart Start(std::unique_ptr<BackupRequest>& request, JobOrigin origin,
                 StartRule rule) override {
    EXPECT_EQ(origin, JobOrigin::Schedule);
    EXPECT_EQ(rule, StartRule::UnlessRunning);
    if (request->job.name == busy) {
      return JobStart::AlreadyRunning;
    }
    requests.push_back(std::move(request));
    return JobStart::Started;
  }
  int RunningJobCount() const override { return 0; }
  std::string busy;
  std::vector<std::unique_ptr<BackupRequest>> requests;
};

TEST(SchedulerTest, TickStartsTheDueConnectionsInListOrderFromTheStore) {
  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  auto add = [&](const std::string& name, int start, int period) {
    ASSERT_EQ(AddConnectionNamed(*store, name), ChangeResult::Done);
    ASSERT_EQ(ApplyConnectionChanges(
                  *store, name,
                  {name, {"db-" + name, "login", "pw-" + name, "d", {}, {}}, start, period}),
              ChangeResult::Done);
  };
  add("alpha", 22, 8);  // due at 06, 14, 22
  add("beta", 0, 1);    // every hour
  add("gamma", 5, 24);  // not at 14
  add("zeta", 0, 2);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store->path().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE Connections SET Period = 0 WHERE Name = 'zeta'", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);

  TestClock clock(At(13, 59, 30));
  RecordingStarter starter;
  Scheduler scheduler(*store, starter, clock);
  const std::vector<std::string> names = {"alpha", "beta", "gamma", "removed", "zeta"};
  EXPECT_FALSE(scheduler.Tick(names).opened);
  clock.Set(At(14, 0, 30));
  Scheduler::TickReport report = scheduler.Tick(names);
  EXPECT_TRUE(report.opened);
  EXPECT_EQ(report.started, (std::vector<std::string>{"alpha", "beta"}));
  ASSERT_EQ(starter.requests.size(), 2u);
  const BackupRequest& alpha = *starter.requests[0];
  EXPECT_EQ(alpha.job.server.host, "db-alpha");
  EXPECT_EQ(alpha.job.server.password, "pw-alpha");
  EXPECT_EQ(alpha.job.server.database, "d");
  EXPECT_EQ(alpha.job.saveTo, "");  // never saved: the job ends with its copy failure

  // Next hour: the target folder now set, alpha's earlier run still going.
  SaveTargetFolder(*store, scratch.path());
  starter.busy = "alpha";
  clock.Set(At(22, 0, 5));
  report = scheduler.Tick(names);
  EXPECT_EQ(report.started, (std::vector<std::string>{"beta"}));
  EXPECT_EQ(report.notStarted, (std::vector<std::string>{"alpha"}));
  EXPECT_EQ(starter.requests.back()->job.saveTo, scratch.path());
  EXPECT_TRUE(scheduler.Tick(names).started.empty());  // the same minute 0 again

  // A second scheduler on the same store (the desktop program beside the
  // service) finds this hour's runs taken, and takes the next hour's first.
  auto otherStore = SettingsStore::Open(store->path());
  Scheduler other(*otherStore, starter, clock);
  report = other.Tick(names);
  EXPECT_TRUE(report.started.empty());
  EXPECT_EQ(report.startedElsewhere, (std::vector<std::string>{"alpha", "beta"}));
  clock.Set(At(23, 0, 5));
  EXPECT_EQ(other.Tick(names).started, (std::vector<std::string>{"beta"}));
  EXPECT_EQ(scheduler.Tick(names).startedElsewhere, (std::vector<std::string>{"beta"}));
}

// Jobs that run until the test ends them, counted as the runner counts them.
class HoldingStarter : public JobStarter {
 public:
  JobStart Start(std::unique_ptr<BackupRequest>& request, JobOrigin, StartRule) override {
    if (request->job.name == busy) {
      return JobStart::AlreadyRunning;
    }
    started.push_back(request->job.name);
    request.reset();
    ++running;
    return JobStart::Started;
  }
  int RunningJobCount() const override { return running; }
  std::string busy;
  std::vector<std::string> started;
  int running = 0;
};

TEST(SchedulerTest, AtMostNRunAtOnceAndTheRestWaitInDueOrderForTheirHour) {
  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
  for (const std::string& name : names) {
    ASSERT_EQ(AddConnectionNamed(*store, name), ChangeResult::Done);
  }
  TestClock clock(At(14, 0, 30));
  HoldingStarter starter;
  starter.running = 1;  // a Download now counts too
  Scheduler scheduler(*store, starter, clock, 3);
  Scheduler::TickReport report = scheduler.Tick(names);
  EXPECT_EQ(report.started, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(report.queued, (std::vector<std::string>{"c", "d", "e"}));
  const std::vector<HistoryRow> rows = ReadHistory(*store, "", 10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].result, kResultQueued);
  EXPECT_FALSE(WasStarted(rows[0]));

  EXPECT_TRUE(scheduler.StartQueued().started.empty());  // nothing ended yet
  starter.running -= 2;
  starter.busy = "c";        // running elsewhere meanwhile: skipped, as at a tick
  clock.Set(At(15, 10, 0));  // past its hour, it still runs for it
  report = scheduler.StartQueued();
  EXPECT_EQ(report.notStarted, (std::vector<std::string>{"c"}));
  EXPECT_EQ(report.started, (std::vector<std::string>{"d", "e"}));
  EXPECT_EQ(scheduler.QueuedCount(), 0);
}

TEST(SchedulerTest, TheStoredLimitReadsItsDefaultUnlessItIsAWholeNumberInRange) {
  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  EXPECT_EQ(LoadMaxParallel(*store), Scheduler::kDefaultMaxParallel);
  SaveMaxParallel(*store, 5);
  EXPECT_EQ(LoadMaxParallel(*store), 5);
  for (const char* text : {"0", "65", "3x", ""}) {
    store->WriteText(settings::kMaxParallel, text);
    EXPECT_EQ(LoadMaxParallel(*store), Scheduler::kDefaultMaxParallel) << text;
  }
}

}  // namespace
}  // namespace vaultwick::test

namespace vaultwick::test {
namespace {

// A clock whose zone is `offset` ahead of UTC, standing where `utc` stands.
class ZoneClock final : public Clock {
 public:
  ZoneClock(const TestClock& utc, std::chrono::hours offset) : utc_(utc), offset_(offset) {}
  WallTime Now() const override { return utc_.Now(); }
  std::optional<LocalTime> ToLocalTime(WallTime moment) const override {
    return utc_.ToLocalTime(moment + offset_);
  }
  std::optional<WallTime> FromLocalTime(const LocalTime& local) const override {
    const std::optional<WallTime> moment = utc_.FromLocalTime(local);
    return moment ? std::optional<WallTime>(*moment - offset_) : std::nullopt;
  }

 private:
  const TestClock& utc_;
  std::chrono::hours offset_;
};

// Two programs in different time zones share the store: at one moment
// their local hours differ, yet only one of them runs an hourly connection.
// An older program's claim (a local hour number) never stands for an hour.
TEST(SchedulerTest, ProgramsInOtherTimeZonesClaimTheSameHour) {
  ScratchFolder scratch;
  auto store = SettingsStore::Open(scratch.File("s.sqlite"));
  ASSERT_EQ(AddConnectionNamed(*store, "beta"), ChangeResult::Done);
  ASSERT_EQ(ApplyConnectionChanges(*store, "beta", {"beta", {"h", "l", "p", "d", {}, {}}, 0, 1}),
            ChangeResult::Done);
  TestClock utc(At(9, 59, 50));
  const ZoneClock berlin(utc, std::chrono::hours(2));
  RecordingStarter here;
  RecordingStarter there;
  Scheduler utcScheduler(*store, here, utc);
  Scheduler berlinScheduler(*store, there, berlin);
  const std::vector<std::string> names = {"beta"};
  utcScheduler.Tick(names);
  berlinScheduler.Tick(names);
  utc.Set(At(10, 0, 10));
  EXPECT_EQ(utcScheduler.Tick(names).started, (std::vector<std::string>{"beta"}));
  EXPECT_EQ(berlinScheduler.Tick(names).startedElsewhere, (std::vector<std::string>{"beta"}));
  // What an older program in UTC claimed for 11:00: its local hour number.
  store->ClaimScheduledRun("beta", (std::int64_t{19783} * 24) + 11);
  utc.Set(At(11, 0, 10));
  EXPECT_EQ(berlinScheduler.Tick(names).started, (std::vector<std::string>{"beta"}));
}

}  // namespace
}  // namespace vaultwick::test
