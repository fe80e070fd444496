// The keep policy over runs across simulated days: which points a connection
// still has after every run was followed by a prune.

#include "shell/keep_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace vaultwick {
namespace {

using std::chrono::hours;

// "2024-03-31 02:00" in the clock's zone.
std::string Text(const Clock& clock, WallTime time) {
  const LocalTime local = clock.ToLocalTime(time).value();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", local.year, local.month, local.day,
                local.hour, local.minute);
  return text;
}

// A connection's points as prune after prune leaves them: every run adds
// one and then lets the policy go over all of them.
class Runs {
 public:
  Runs(const KeepPolicy& policy, const Clock& clock) : policy_(policy), clock_(clock) {}

  void Run(WallTime at, bool verified = false) {
    points_.push_back({at, verified});
    const std::vector<unsigned> kept = ApplyKeepPolicy(points_, policy_, clock_);
    std::vector<PointFacts> left;
    for (std::size_t i = 0; i < points_.size(); ++i) {
      if (kept[i] != kKeptNot) {
        left.push_back(points_[i]);
      }
    }
    points_ = left;
  }
  // `count` runs, `step` apart, from `first`.
  void Every(hours step, int count, WallTime first) {
    for (int i = 0; i < count; ++i) {
      Run(first + step * i);
    }
  }
  // Oldest first.
  std::vector<std::string> Left() const {
    std::vector<std::string> texts;
    for (const PointFacts& point : points_) {
      texts.push_back(Text(clock_, point.time));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
  }

 private:
  KeepPolicy policy_;
  const Clock& clock_;
  std::vector<PointFacts> points_;
};

class KeepPolicyTest : public ::testing::Test {
 protected:
  // A moment of the test clock's zone (UTC).
  static WallTime At(int year, int month, int day, int hour = 2) {
    return TestClock(LocalTime{year, month, day, hour, 0, 0}).Now();
  }
  TestClock clock_;
};

// Daily runs for a quarter under the default policy: the last seven days,
// the last points of the four newest weeks (Monday to Sunday) and of every
// month so far. 2024-03-31 is a Sunday; 2024 is a leap year.
TEST_F(KeepPolicyTest, DefaultPolicyOverAQuarterOfDailyRuns) {
  Runs runs(KeepPolicy{}, clock_);
  runs.Every(hours(24), 91, At(2024, 1, 1));
  EXPECT_EQ(runs.Left(),
            (std::vector<std::string>{"2024-01-31 02:00", "2024-02-29 02:00", "2024-03-10 02:00",
                                      "2024-03-17 02:00", "2024-03-24 02:00", "2024-03-25 02:00",
                                      "2024-03-26 02:00", "2024-03-27 02:00", "2024-03-28 02:00",
                                      "2024-03-29 02:00", "2024-03-30 02:00", "2024-03-31 02:00"}));

  // A year on, the months beyond the newest six have gone.
  runs.Every(hours(24), 364, At(2024, 4, 1));  // to Sunday 2025-03-30
  const std::vector<std::string> left = runs.Left();
  EXPECT_EQ(left.front(), "2024-10-31 02:00");
  EXPECT_EQ(left.size(), 7u + 3u + 5u);  // days; earlier weeks; earlier months
}

// Hourly runs: the hours count those holding a point, so a day off leaves
// the kept points further apart instead of fewer.
TEST_F(KeepPolicyTest, HourlyAndDailyCountPeriodsThatHoldAPoint) {
  Runs runs(KeepPolicy{3, 2, 0, 0}, clock_);
  runs.Every(hours(1), 30, At(2024, 5, 1, 0));  // 1 May 00:00 to 2 May 05:00
  runs.Every(hours(1), 2, At(2024, 5, 4, 10));  // the machine was off for two days
  EXPECT_EQ(runs.Left(),
            (std::vector<std::string>{"2024-05-02 05:00", "2024-05-04 10:00", "2024-05-04 11:00"}));
}

// All counts zero keeps today's single copy; several runs a day change
// which one that is.
TEST_F(KeepPolicyTest, AllZeroKeepsTheNewestAlone) {
  Runs runs(KeepPolicy{0, 0, 0, 0}, clock_);
  runs.Every(hours(6), 10, At(2024, 6, 1, 0));
  EXPECT_EQ(runs.Left(), std::vector<std::string>{"2024-06-03 06:00"});
}

// The newest verified point stays under any policy until a newer one verifies.
TEST_F(KeepPolicyTest, LastVerifiedPointSurvivesAnyPolicy) {
  for (const KeepPolicy& policy : {KeepPolicy{0, 0, 0, 0}, KeepPolicy{}, KeepPolicy{5, 0, 0, 0}}) {
    Runs runs(policy, clock_);
    runs.Run(At(2023, 1, 15), true);
    runs.Every(hours(24), 400, At(2023, 1, 16));
    const std::vector<std::string> left = runs.Left();
    EXPECT_EQ(left.front(), "2023-01-15 02:00");
    EXPECT_EQ(left.back(), "2024-02-19 02:00");

    // A newer verified point takes over.
    runs.Run(At(2024, 2, 20), true);
    runs.Run(At(2024, 2, 21));
    const std::vector<std::string> after = runs.Left();
    EXPECT_NE(after.front(), "2023-01-15 02:00");
    EXPECT_EQ(std::count(after.begin(), after.end(), "2024-02-20 02:00"), 1);
  }
}

TEST_F(KeepPolicyTest, SaysWhyEachPointIsKept) {
  const std::vector<PointFacts> points = {{At(2024, 7, 1), true},
                                          {At(2024, 7, 2), false},
                                          {At(2024, 7, 2, 5), false},
                                          {At(2024, 7, 2, 5), false}};
  const std::vector<unsigned> kept = ApplyKeepPolicy(points, KeepPolicy{0, 1, 1, 0}, clock_);
  EXPECT_EQ(kept, (std::vector<unsigned>{kKeptLastVerified, kKeptNot, kKeptNot,
                                         kKeptNewest | kKeptDaily | kKeptWeekly}));
  EXPECT_EQ(KeptForText(kept[3]), "newest, daily, weekly");
  EXPECT_TRUE(ApplyKeepPolicy({}, KeepPolicy{}, clock_).empty());
}

// Periods are cut in the clock's zone, and a point whose time the clock
// cannot break down is never deleted on a guess.
TEST_F(KeepPolicyTest, PeriodsFollowTheClocksZone) {
  class EastOfUtc final : public Clock {
   public:
    WallTime Now() const override { return {}; }
    std::optional<LocalTime> ToLocalTime(WallTime moment) const override {
      if (moment == WallTime{}) {
        return std::nullopt;
      }
      return utc_.ToLocalTime(moment + hours(3));
    }
    std::optional<WallTime> FromLocalTime(const LocalTime&) const override { return std::nullopt; }

   private:
    TestClock utc_;
  } east;
  // 22:00 and 23:00 UTC on the 31st are 01:00 and 02:00 on the 1st there.
  const std::vector<PointFacts> points = {{WallTime{}, false},
                                          {At(2024, 7, 31, 20), false},
                                          {At(2024, 7, 31, 22), false},
                                          {At(2024, 7, 31, 23), false}};
  EXPECT_EQ(ApplyKeepPolicy(points, KeepPolicy{0, 0, 0, 2}, east),
            (std::vector<unsigned>{kKeptUnplaceable, kKeptMonthly, kKeptNot,
                                   kKeptNewest | kKeptMonthly}));
}

TEST(KeepCountTest, TakesWholeNumbersUpToTheLimit) {
  EXPECT_EQ(ParseKeepCount("0"), 0);
  EXPECT_EQ(ParseKeepCount("007"), 7);
  EXPECT_EQ(ParseKeepCount("1000"), 1000);
  for (const char* text : {"", "-1", "1001", "+3", "3 ", "1e3", "99999"}) {
    EXPECT_EQ(ParseKeepCount(text), std::nullopt) << text;
  }
  EXPECT_TRUE(IsValidKeepPolicy(KeepPolicy{}));
  EXPECT_FALSE(IsValidKeepPolicy(KeepPolicy{0, -1, 0, 0}));
  EXPECT_FALSE(IsValidKeepPolicy(KeepPolicy{0, 0, 0, 1001}));
}

}  // namespace
}  // namespace vaultwick
