#pragma once

// Where each stored connection stands, for monitoring that nobody watches:
// its last good backup, its last run, when it is next due, and whether it is
// stale (no good backup for longer than its schedule allows) or failing (its
// last run did not end well).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

struct ConnectionStatus {
  std::string name;
  // When the last run that placed a whole archive (and, when a test restore
  // ran, verified it) ended; nullopt when none did.
  std::optional<WallTime> lastGood;
  // The last run that was started (runs declined because one was already
  // going are not counted); nullopt when none was.
  std::optional<HistoryRow> lastRun;
  // The next hour the schedule starts a run; nullopt for a schedule never due.
  std::optional<WallTime> nextDue;
  int periodHours = 1;
  // The archives kept in the target folder: <name>.zip and its restore points.
  int archivesKept = 0;
  bool stale = false;
  bool failing = false;
  // The last run's off-site column: kOffsiteCopied, kOffsiteFailed, or empty
  // (no remote set, or nothing placed).
  std::string offsite;
};

// The last good backup is stale when it is older than twice the period and
// the hour a run may take; a connection never backed up well is stale too.
// A schedule that is never due is never stale.
bool IsStale(const std::optional<WallTime>& lastGood, int periodHours, WallTime now);

// Whether a history row is a run that placed a whole archive, proven by its
// test restore when one ran and copied off-site when a remote is set: a copy
// that keeps failing is as much a silent loss as a backup that does.
bool IsGoodRun(const HistoryRow& row);

// Every stored connection, by name.
std::vector<ConnectionStatus> ReadConnectionStatus(SettingsStore& store, const Clock& clock);

}  // namespace vaultwick
