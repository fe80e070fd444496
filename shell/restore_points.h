#pragma once

// A connection's restore points as the front ends show them (the archives in
// the target folder, with what the history knows of the runs that placed
// them), the point a restore "at" a time takes, and the prune that follows
// a run. Where the files lie and how they are named: backup/restore_point_layout.h;
// which of them a policy keeps: shell/keep_policy.h.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_point_layout.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/connection_lock.h"
#include "shell/keep_policy.h"

namespace vaultwick {

struct RestorePoint {
  ArchiveFile file;
  // The run that placed the archive, where the history still knows it.
  std::optional<HistoryRow> run;
  bool Verified() const;
};

// Joins each file to the run that placed it: a run that placed an archive
// of the file's size, between whose start and end (a second either way, for
// the file system's coarser clock) the file was last written. Both lists are
// newest first, and each run placed one archive: a file takes the newest
// run that fits and that no newer file took, so two quick runs of the same
// size are never both given to one file. Files keep their order.
std::vector<RestorePoint> MatchRuns(const std::vector<ArchiveFile>& files,
                                    const std::vector<HistoryRow>& runs);

// The connection's archives, newest first, joined to its history and to
// `moreRuns` (runs newer than any in the history, whose rows are not written
// yet; newest first).
std::vector<RestorePoint> ListRestorePoints(SettingsStore& store, std::string_view saveTo,
                                            std::string_view name,
                                            const std::vector<HistoryRow>& moreRuns = {});

// A time a person gives a restore: "YYYY-MM-DD HH:MM" or "YYYY-MM-DD" (its
// first minute) in the clock's zone; nullopt for anything else.
std::optional<WallTime> ParseRestoreAt(std::string_view text, const Clock& clock);

// The newest of `points` (newest first) placed at or before `at`; null when
// every point is newer.
const RestorePoint* PointAtOrBefore(const std::vector<RestorePoint>& points, WallTime at);

// Pruning deletes files, so it runs only where no other run of the same
// connection can place or prune at the same moment: under that connection's
// lock (shell/connection_lock.h), which the caller shows it holds.

// Whether a run with this history row may prune: it placed an archive from
// a dump written in full, and checked it. A failed, stopped or partial run
// never deletes anything.
bool RunMayPrune(const HistoryRow& row);

// After a run of the connection `row.connection` into `saveTo` whose row is
// about to be written: when RunMayPrune, deletes the restore points the
// connection's stored policy lets go, never <name>.zip and never a file of
// another name, and notes them in row.pruned (one file name a line). A point
// that cannot be deleted is named in row.cause; the run's result stands.
void PruneAfterRun(SettingsStore& store, std::string_view saveTo, HistoryRow& row,
                   const Clock& clock, const HeldConnectionLock& lock);

}  // namespace vaultwick
