#include "shell/keep_policy.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace vaultwick {
namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian), exact for any
// year the clock can break down.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The period of each kind that a local time falls in, as one number each.
struct Periods {
  std::int64_t hour;
  std::int64_t day;
  std::int64_t week;
  std::int64_t month;
};

Periods PeriodsOf(const LocalTime& local) {
  const std::int64_t day = DaysFromCivil(local.year, local.month, local.day);
  // 1970-01-01 was a Thursday: counting from the Monday three days before
  // makes every week run Monday to Sunday.
  return Periods{day * 24 + local.hour, day, FloorDivide(day + 3, 7),
                 static_cast<std::int64_t>(local.year) * 12 + (local.month - 1)};
}

struct Kind {
  int count;
  std::int64_t Periods::*period;
  KeptFor bit;
};

}  // namespace

bool IsValidKeepPolicy(const KeepPolicy& policy) {
  for (int count : {policy.hourly, policy.daily, policy.weekly, policy.monthly}) {
    if (count < 0 || count > kMaxKeepCount) {
      return false;
    }
  }
  return true;
}

std::optional<int> ParseKeepCount(std::string_view text) {
  if (text.empty() || text.size() > 4) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  if (value > kMaxKeepCount) {
    return std::nullopt;
  }
  return value;
}

std::vector<unsigned> ApplyKeepPolicy(const std::vector<PointFacts>& points,
                                      const KeepPolicy& policy, const Clock& clock) {
  std::vector<unsigned> kept(points.size(), kKeptNot);
  std::vector<std::size_t> newestFirst(points.size());
  std::iota(newestFirst.begin(), newestFirst.end(), std::size_t{0});
  std::stable_sort(newestFirst.begin(), newestFirst.end(), [&](std::size_t a, std::size_t b) {
    return points[a].time != points[b].time ? points[a].time > points[b].time : a > b;
  });
  if (newestFirst.empty()) {
    return kept;
  }
  kept[newestFirst.front()] |= kKeptNewest;
  auto lastVerified = std::find_if(newestFirst.begin(), newestFirst.end(),
                                   [&](std::size_t i) { return points[i].verified; });
  if (lastVerified != newestFirst.end()) {
    kept[*lastVerified] |= kKeptLastVerified;
  }

  const Kind kinds[] = {{policy.hourly, &Periods::hour, kKeptHourly},
                        {policy.daily, &Periods::day, kKeptDaily},
                        {policy.weekly, &Periods::week, kKeptWeekly},
                        {policy.monthly, &Periods::month, kKeptMonthly}};
  // A set rather than "differs from the previous point", so that a clock set
  // back (or a change of zone) never gives one period two points.
  std::set<std::int64_t> seen[std::size(kinds)];
  for (std::size_t index : newestFirst) {
    const std::optional<LocalTime> local = clock.ToLocalTime(points[index].time);
    if (!local) {
      kept[index] |= kKeptUnplaceable;
      continue;
    }
    const Periods periods = PeriodsOf(*local);
    for (std::size_t k = 0; k < std::size(kinds); ++k) {
      const Kind& kind = kinds[k];
      if (static_cast<int>(seen[k].size()) < kind.count &&
          seen[k].insert(periods.*kind.period).second) {
        kept[index] |= kind.bit;
      }
    }
  }
  return kept;
}

std::string KeptForText(unsigned keptFor) {
  static constexpr std::pair<KeptFor, const char*> kNames[] = {
      {kKeptNewest, "newest"},           {kKeptLastVerified, "last verified"},
      {kKeptHourly, "hourly"},           {kKeptDaily, "daily"},
      {kKeptWeekly, "weekly"},           {kKeptMonthly, "monthly"},
      {kKeptUnplaceable, "time unknown"}};
  std::string text;
  for (const auto& [bit, name] : kNames) {
    if ((keptFor & bit) != 0) {
      text += (text.empty() ? "" : ", ");
      text += name;
    }
  }
  return text;
}

}  // namespace vaultwick
