#include "shell/scheduler.h"

#include <chrono>

#include "shell/connections.h"
#include "shell/stored_backup.h"
#include "shell/target_folder.h"

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
  if (!gate_.Opens(now)) {
    return report;
  }
  report.opened = true;
  for (const std::string& name : scheduledNames) {
    std::unique_ptr<BackupRequest> request;
    try {
      std::optional<ConnectionProfile> profile = LoadConnection(store_, name);
      if (!profile || !IsDueAt(now->hour, profile->startHour, profile->periodHours)) {
        continue;
      }
      if (!store_.ClaimScheduledRun(profile->name, ClaimKey(clock_, moment, *now))) {
        report.startedElsewhere.push_back(name);
        continue;
      }
      request = BackupRequestFor(name, *profile, LoadTargetFolder(store_));
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
  return report;
}

}  // namespace vaultwick
