#pragma once

// The history of jobs: one row per job in the settings store, written when
// the job ends (or when the scheduler declines to start it), read back by the
// front ends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_request.h"
#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

// What started a job.
enum class JobOrigin { Schedule, DownloadNow, Command };

// "schedule", "download now", "command".
const char* JobOriginName(JobOrigin origin);

// The result column for a job that ended: the BackupResult's own name
// ("Complete", "CopyFailed", ...).
const char* BackupResultName(BackupResult result);

// The verified column for a test restore: "verified", "differs", "failed".
const char* VerifyRestoreResultName(VerifyRestoreOutcome::Result result);

// The result column and end text for a run that was not started because a
// run of the same connection was already under way (in any program).
inline constexpr const char* kResultNotStarted = "NotStarted";
inline constexpr const char* kTextPreviousRunStillGoing =
    "Not started: a backup of this connection is already running";

// The result column and end text of a scheduled run that waits for a free
// place (at most so many backups run at once); its run gets a row of its own
// when it ends.
inline constexpr const char* kResultQueued = "Queued";

// The off-site column of a run's row: its archive was copied to the remote
// and proven there, or the copy failed (the archive stays placed); empty when
// no remote is set or the run placed nothing.
inline constexpr const char* kOffsiteCopied = "copied";
inline constexpr const char* kOffsiteFailed = "failed";

// Why the off-site copy of `row` failed: the last line of its off-site
// detail, rclone's last error line; empty when it did not fail.
std::string OffsiteFailureLine(const HistoryRow& row);

// How every report says that a run's archive did not reach the remote, and
// why (rclone's last error line).
std::string NotCopiedOffsiteText(std::string_view why);

// Whether a row is of a run that was started: neither declined because one
// was under way nor only queued.
bool WasStarted(const HistoryRow& row);

// How a job that was asked to start ended, as the job runner tells its
// observers; each of them makes its own texts.
struct JobEnded {
  std::string connection;
  JobOrigin origin = JobOrigin::Command;
  // nullopt when it was not started: a run of the connection was already going.
  std::optional<BackupOutcome> outcome;
  WallTime startedAt{};
  std::int64_t durationMs = 0;
  // Why its off-site copy failed, in rclone's words; empty when it did not
  // fail or there was none (the archive stays placed either way).
  std::string offsiteFailure;
};

// The history row of `ended`, which ended at `endedAt`.
HistoryRow MakeHistoryRow(const JobEnded& ended, WallTime endedAt);

// The history row of a scheduled run of `connection` that waits, from `at`,
// for one of the `maxParallel` places.
HistoryRow MakeQueuedRow(const std::string& connection, WallTime at, int maxParallel);

// Appends `row` to the history; the store's error text when it could not,
// else empty.
std::string AppendToHistory(SettingsStore& store, const HistoryRow& row);

// Newest first; every connection when `connection` is empty.
std::vector<HistoryRow> ReadHistory(SettingsStore& store, std::string_view connection, int limit);

}  // namespace vaultwick
