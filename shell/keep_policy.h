#pragma once

// Which restore points a connection keeps: grandfather-father-son over any
// list of points (archives in the target folder, or copies kept elsewhere).
// Pure: it sees only each point's time and whether its test restore
// verified, and the clock's zone that cuts time into hours, days, weeks and
// months. It never looks at files.
//
// The rules, for a policy of H hourly, D daily, W weekly and M monthly:
//   - Time is cut into local hours, days, weeks (Monday to Sunday) and
//     months. The newest point inside one of them is that period's point.
//   - The newest H hours that hold a point keep their hour's point; likewise
//     the newest D days, W weeks and M months. One point may be kept for
//     several of these at once (today's last point is also this week's and
//     this month's).
//   - The newest point is always kept, and so is the newest point whose test
//     restore verified; every point whose time the clock cannot break down
//     is kept too (nothing is deleted on a guess).
//   - Everything else may go. All counts zero keeps the newest point alone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/settings_store_layout.h"

namespace vaultwick {

// The defaults are those a connection starts with.
struct KeepPolicy {
  int hourly = static_cast<int>(settings::kKeepHourly.defaultInteger);
  int daily = static_cast<int>(settings::kKeepDaily.defaultInteger);
  int weekly = static_cast<int>(settings::kKeepWeekly.defaultInteger);
  int monthly = static_cast<int>(settings::kKeepMonthly.defaultInteger);
  bool operator==(const KeepPolicy&) const = default;
};

// Highest count of any kind; more would keep decades of hourly points.
inline constexpr int kMaxKeepCount = 1000;

inline constexpr const char* kTextInvalidKeepCount =
    "A keep count must be a whole number from 0 to 1000";

bool IsValidKeepPolicy(const KeepPolicy& policy);

// A keep count as typed: digits only, 0 to kMaxKeepCount.
std::optional<int> ParseKeepCount(std::string_view text);

struct PointFacts {
  WallTime time;
  bool verified = false;
};

// Why a point is kept; several may hold at once.
enum KeptFor : unsigned {
  kKeptNot = 0,
  kKeptNewest = 1u << 0,
  kKeptLastVerified = 1u << 1,
  kKeptHourly = 1u << 2,
  kKeptDaily = 1u << 3,
  kKeptWeekly = 1u << 4,
  kKeptMonthly = 1u << 5,
  kKeptUnplaceable = 1u << 6,  // its time could not be broken down
};

// For each of `points` (in any order), why it is kept, or kKeptNot when the
// policy lets it go. Of two points with the same time, the later one in the
// list counts as the newer.
std::vector<unsigned> ApplyKeepPolicy(const std::vector<PointFacts>& points,
                                      const KeepPolicy& policy, const Clock& clock);

// "newest, daily, weekly" for a set of KeptFor bits; empty for kKeptNot.
std::string KeptForText(unsigned keptFor);

}  // namespace vaultwick
