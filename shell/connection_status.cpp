#include "shell/connection_status.h"

#include <chrono>

#include "backup/restore_point_layout.h"
#include "shell/connections.h"
#include "shell/history.h"
#include "shell/target_folder.h"

namespace vaultwick {
namespace {

using std::chrono::hours;
using std::chrono::seconds;

WallTime FromUnixSeconds(std::int64_t value) {
  return WallTime(seconds(value));
}

// The first whole hour after `now` whose local hour the schedule is due in.
std::optional<WallTime> NextDue(const ConnectionProfile& profile, const Clock& clock,
                                WallTime now) {
  const std::int64_t unix = ToUnixSeconds(now);
  WallTime candidate = FromUnixSeconds(unix - unix % 3600) + hours(1);
  // Every period divides a day; a day and the hours a change of time zone
  // offset may add cover every start.
  for (int step = 0; step < 26; ++step, candidate += hours(1)) {
    const std::optional<LocalTime> local = clock.ToLocalTime(candidate);
    if (local && IsDueAt(local->hour, profile.startHour, profile.periodHours)) {
      return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace

bool IsGoodRun(const HistoryRow& row) {
  return row.result == BackupResultName(BackupResult::Complete) && row.verified != "failed" &&
         row.verified != "differs" && row.offsite != kOffsiteFailed;
}

bool IsStale(const std::optional<WallTime>& lastGood, int periodHours, WallTime now) {
  const int period = periodHours < 0 ? -periodHours : periodHours;
  if (period == 0) {
    return false;  // never due, so never late
  }
  if (!lastGood) {
    return true;
  }
  return now - *lastGood > hours(2 * period + 1);
}

std::vector<ConnectionStatus> ReadConnectionStatus(SettingsStore& store, const Clock& clock) {
  const WallTime now = clock.Now();
  const std::string saveTo = LoadTargetFolder(store);
  std::vector<ConnectionStatus> statuses;
  for (const std::string& name : ListConnections(store)) {
    const std::optional<ConnectionProfile> profile = LoadConnection(store, name);
    if (!profile) {
      continue;  // removed since the list was read
    }
    ConnectionStatus status;
    status.name = name;
    status.periodHours = profile->periodHours;
    status.nextDue = NextDue(*profile, clock, now);
    if (!saveTo.empty()) {
      status.archivesKept = static_cast<int>(ListArchiveFiles(saveTo, name).size());
    }
    for (const HistoryRow& row : ReadHistory(store, name, SettingsStore::kHistoryRowsKept)) {
      if (!status.lastRun && WasStarted(row)) {
        status.lastRun = row;
      }
      if (IsGoodRun(row)) {
        status.lastGood = FromUnixSeconds(row.endedAt);
        break;
      }
    }
    status.stale = IsStale(status.lastGood, profile->periodHours, now);
    status.failing = status.lastRun && !IsGoodRun(*status.lastRun);
    if (status.lastRun) {
      status.offsite = status.lastRun->offsite;
    }
    statuses.push_back(std::move(status));
  }
  return statuses;
}

}  // namespace vaultwick
