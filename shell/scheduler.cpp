#include "shell/scheduler.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <utility>

#include "shell/connections.h"
#include "shell/history.h"
#include "shell/stale_alerts.h"
#include "shell/stored_backup.h"

namespace vaultwick {
namespace {

// Hours from 1970-01-01 00:00 to the hour of a local time, counted on the
// local calendar: a repeated hour (clocks turned back) gets the same number.
std::int64_t HourNumber(const LocalTime& time) {
  using namespace std::chrono;
  const sys_days date{year{time.year} / month{static_cast<unsigned>(time.month)} /
                      day{static_cast<unsigned>(time.day)}};
  return static_cast<std::int64_t>(date.time_since_epoch().count()) * 24 + time.hour;
}

// The key of an hour's claim: the UTC hour in which the local hour that
// `now` is in began, so that programs in different time zones (TZ) sharing
// a store claim the same key for the same moment. The second pass of a
// local hour repeated when clocks are turned back keeps its first pass's
// key, as it keeps its number. Keys start at kUtcClaimBase, above every
// local hour number older programs claimed, so that no older claim ever
// stands for a newer hour.
constexpr std::int64_t kUtcClaimBase = std::int64_t{1} << 32;

std::int64_t ClaimKey(const Clock& clock, WallTime now, const LocalTime& local) {
  using namespace std::chrono;
  const auto sinceHourStart = minutes(local.minute) + seconds(local.second);
  WallTime hourStart = time_point_cast<seconds>(now) - sinceHourStart;
  const std::optional<LocalTime> hourBefore = clock.ToLocalTime(hourStart - hours(1));
  if (hourBefore && HourNumber(*hourBefore) == HourNumber(local)) {
    hourStart -= hours(1);
  }
  const std::int64_t unixSeconds = ToUnixSeconds(hourStart);
  const std::int64_t utcHour = unixSeconds >= 0 ? unixSeconds / 3600 : (unixSeconds - 3599) / 3600;
  return kUtcClaimBase + utcHour;
}

}  // namespace

bool HourlyGate::Opens(const std::optional<LocalTime>& now) {
  if (!now) {
    return false;
  }
  const std::int64_t hour = HourNumber(*now);
  const bool minuteZeroPassed =
      now->minute == 0 || (previousTickHour_ && *previousTickHour_ < hour);
  previousTickHour_ = hour;
  if (!minuteZeroPassed || openedHour_ == hour) {
    return false;
  }
  openedHour_ = hour;
  return true;
}

Scheduler::TickReport Scheduler::Tick(const std::vector<std::string>& scheduledNames) {
  TickReport report;
  const WallTime moment = clock_.Now();
  const std::optional<LocalTime> now = clock_.ToLocalTime(moment);
  // Staleness is counted in hours: one look an hour is enough.
  const std::int64_t utcHour = ToUnixSeconds(moment) / 3600;
  if (staleCheckedHour_ != utcHour) {
    staleCheckedHour_ = utcHour;
    try {
      report.staleAlerts = ClaimStaleAlerts(store_, clock_);
    } catch (const SettingsStoreError& error) {
      report.problems.push_back(std::string("stale alerts: ") + error.what());
    }
  }
  if (!gate_.Opens(now)) {
    return report;
  }
  report.opened = true;
  const std::size_t queuedBefore = queue_.size();
  for (const std::string& name : scheduledNames) {
    try {
      std::optional<ConnectionProfile> profile = LoadConnection(store_, name);
      if (!profile || !IsDueAt(now->hour, profile->startHour, profile->periodHours)) {
        continue;
      }
      if (!store_.ClaimScheduledRun(profile->name, ClaimKey(clock_, moment, *now))) {
        report.startedElsewhere.push_back(name);
        continue;
      }
    } catch (const SettingsStoreError& error) {
      report.problems.push_back(name + ": " + error.what());
      continue;
    }
    queue_.push_back(name);
  }
  const std::size_t added = queue_.size() - queuedBefore;
  StartQueuedInto(report);
  // Those of this hour still waiting: the history shows them queued.
  const std::size_t waiting = std::min(added, queue_.size());
  for (auto it = queue_.end() - static_cast<std::ptrdiff_t>(waiting); it != queue_.end(); ++it) {
    report.queued.push_back(*it);
    if (std::string error = AppendToHistory(store_, MakeQueuedRow(*it, moment, maxParallel_));
        !error.empty()) {
      report.problems.push_back(*it + ": " + error);
    }
  }
  return report;
}

int LoadMaxParallel(SettingsStore& store) {
  const std::string text = store.ReadText(settings::kMaxParallel);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > Scheduler::kMaxMaxParallel) {
    return Scheduler::kDefaultMaxParallel;
  }
  return value;
}

void SaveMaxParallel(SettingsStore& store, int maxParallel) {
  store.WriteText(settings::kMaxParallel, std::to_string(maxParallel));
}

Scheduler::TickReport Scheduler::StartQueued() {
  TickReport report;
  StartQueuedInto(report);
  return report;
}

void Scheduler::StartQueuedInto(TickReport& report) {
  while (!queue_.empty() && starter_.RunningJobCount() < maxParallel_) {
    const std::string name = queue_.front();
    queue_.pop_front();
    std::unique_ptr<BackupRequest> request;
    try {
      std::optional<StoredConnection> stored = ReadStoredConnection(store_, name);
      if (!stored) {
        continue;  // removed while it waited
      }
      request = BackupRequestFor(name, stored->profile, std::move(stored->saveTo));
    } catch (const SettingsStoreError& error) {
      report.problems.push_back(name + ": " + error.what());
      continue;
    }
    if (starter_.Start(request, JobOrigin::Schedule, StartRule::UnlessRunning) ==
        JobStart::Started) {
      report.started.push_back(name);
    } else {
      report.notStarted.push_back(name);
    }
  }
}

}  // namespace vaultwick
