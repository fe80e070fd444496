#pragma once

// The scheduler: once a minute a tick looks at the clock, and in the first
// tick of an hour starts a backup for each connection due that hour, in the
// order of the names it is given.
//
// A timer can fire early or late and a machine can sleep, so an hour's runs
// are tied to the hour, not to one exact tick:
//   - they start at most once per hour, however many ticks fall in minute 0,
//     and however many schedulers (a desktop program, a service) share the store;
//   - they start at a tick in minute 0, or at the first tick of the hour
//     when minute 0 passed between that tick and the one before it (a late
//     tick, a machine waking up within the hour). Without a tick before it,
//     a first tick after minute 0 starts nothing: the hour has passed.
// A connection whose previous run is still going is not started again; the
// history records that.
//
// At most maxParallel jobs run at once, counting those started elsewhere in
// the program (Download now): the rest of an hour's runs wait in a queue in
// due order, each with a Queued row in the history, and start as others end
// (StartQueued), for the hour they were claimed for.
//
// The first tick of each hour (and of the scheduler's life) also looks for
// stale connections, whose alerts the front end sends off its own thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_request.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/job_runner.h"
#include "shell/run_alerts.h"

namespace vaultwick {

// Decides, tick by tick, whether a tick opens its hour's runs (see above).
class HourlyGate {
 public:
  // `now` is the tick's local time, nullopt when it could not be read.
  bool Opens(const std::optional<LocalTime>& now);

 private:
  std::optional<std::int64_t> previousTickHour_;
  std::optional<std::int64_t> openedHour_;
};

// The store's limit of scheduled backups at once (its default when unset or
// not a number from 1 to Scheduler::kMaxMaxParallel), and keeping one.
int LoadMaxParallel(SettingsStore& store);
void SaveMaxParallel(SettingsStore& store, int maxParallel);

class Scheduler {
 public:
  // What one tick did, in the order it did it.
  struct TickReport {
    bool opened = false;                  // the tick started its hour's runs
    std::vector<std::string> started;     // jobs started
    std::vector<std::string> notStarted;  // due, but the previous run still goes (or no thread)
    std::vector<std::string> queued;      // due, waiting for a free place
    std::vector<std::string> startedElsewhere;  // due, but another scheduler started it this hour
    std::vector<std::string> problems;          // connections that could not be read from the store
    std::vector<PendingAlert> staleAlerts;      // due now, claimed: the front end sends them
  };

  static constexpr int kDefaultMaxParallel = 2;
  static constexpr int kMaxMaxParallel = 64;

  // All three must outlive the scheduler.
  Scheduler(SettingsStore& store, JobStarter& starter, const Clock& clock,
            int maxParallel = kDefaultMaxParallel)
      : store_(store), starter_(starter), clock_(clock), maxParallel_(maxParallel) {}

  // One timer tick, walking `scheduledNames` (the connection list as the
  // front end holds it). A name the store does not know is skipped.
  TickReport Tick(const std::vector<std::string>& scheduledNames);

  // Starts queued runs while fewer than maxParallel jobs run; for the front
  // end to call whenever a job has ended.
  TickReport StartQueued();
  int QueuedCount() const { return static_cast<int>(queue_.size()); }
  int MaxParallel() const { return maxParallel_; }

 private:
  SettingsStore& store_;
  JobStarter& starter_;
  const Clock& clock_;
  void StartQueuedInto(TickReport& report);

  HourlyGate gate_;
  int maxParallel_;
  std::deque<std::string> queue_;                 // claimed runs not yet started, in due order
  std::optional<std::int64_t> staleCheckedHour_;  // the UTC hour stale alerts were last looked for
};

}  // namespace vaultwick
