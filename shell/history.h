#pragma once

// The history of jobs: one row per job in the settings store, written when
// the job ends (or when the scheduler declines to start it), read back by the
// front ends.

#include <cstdint>
#include <functional>
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

// The result column and end text for a scheduled run that was not started
// because the connection's previous run was still going.
inline constexpr const char* kResultNotStarted = "NotStarted";
inline constexpr const char* kTextPreviousRunStillGoing =
    "Not started: the previous backup of this connection is still running";

// The history row of a job that ran from `startedAt` to `endedAt`.
HistoryRow MakeHistoryRow(std::string_view connection, JobOrigin origin, WallTime startedAt,
                          WallTime endedAt, std::int64_t durationMs, const BackupOutcome& outcome);

// The row of a scheduled run that was not started.
HistoryRow MakeNotStartedRow(std::string_view connection, JobOrigin origin, WallTime at);

// The history row of a job that has ended, made for the end time it is given.
using EndedJobRow = std::function<HistoryRow(WallTime endedAt)>;

// Has the job of `request`, about to start, hand `record` its history row
// when it ends (on the job's thread), as a job of `origin` started at
// `startedAt`; the request's own onOutcome still runs, after `record`.
// `record` reads the end time itself, when it may still read its clock.
void WhenJobEnds(BackupRequest& request, JobOrigin origin, WallTime startedAt,
                 std::function<void(const EndedJobRow& row)> record);

// Appends `row` to the history; the store's error text when it could not,
// else empty.
std::string AppendToHistory(SettingsStore& store, const HistoryRow& row);

// Newest first; every connection when `connection` is empty.
std::vector<HistoryRow> ReadHistory(SettingsStore& store, std::string_view connection, int limit);

}  // namespace vaultwick
