#pragma once

// The off-site step of a run: after a run of a stored connection placed and
// checked its archive, that archive is copied to REMOTE/<name>/<file>, where
// <file> is the name it has, or will have, as a restore point
// (<name>-YYYYMMDDTHHMMSSZ.zip), and proven there. Copies that earlier runs
// could not make are sent first, oldest first, as long as the connection
// still keeps them here; copies already there are proven again (size and
// hash from one listing, and the one read back longest ago in full), and a
// damaged one is sent again. After a run whose copies all succeeded the
// connection's keep policy is applied to its remote copies, which deletes
// nothing but files named in the store as made here.
//
// Three steps, so that no store is touched and no lock held while rclone
// runs: PlanOffsiteCopy reads the store (and notes the new archive as
// waiting, so that a run that dies mid-copy still leaves it to the next),
// RunOffsiteCopy drives rclone, RecordOffsiteCopy writes what happened.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stop_token.h"
#include "platform/clock.h"
#include "platform/rclone_remote.h"
#include "platform/settings_store.h"
#include "shell/offsite_settings.h"
#include "shell/restore_points.h"

namespace vaultwick {

// What the progress window and `vaultwick backup` show while the copy runs,
// and after it, behind the job's end text.
inline constexpr const char* kTextCopyingOffsite = "Copying off-site";
inline constexpr const char* kTextCopiedOffsiteSuffix = "; copied off-site";
inline constexpr const char* kTextNotCopiedOffsiteSuffix = "; not copied off-site";

// How long one run's off-site step may take in all.
inline constexpr std::chrono::hours kOffsiteTimeLimit{3};

struct OffsiteItem {
  OffsiteCopyRow row;
  std::string localPath;  // empty when the local archive is gone
};

struct OffsitePlan {
  RcloneSettings rclone;
  std::string folder;  // REMOTE/<folder>: the connection's name
  // To send, oldest first; the run's own archive among them.
  std::vector<OffsiteItem> pending;
  // Proven by an earlier run: proven again.
  std::vector<OffsiteItem> sent;
  // What the keep policy lets go once every copy above succeeded.
  std::vector<OffsiteCopyRow> retire;
  // Rows to forget without sending (their archive is gone here, or was made
  // unencrypted for a connection that now encrypts), and why.
  std::vector<OffsiteCopyRow> dropped;
  std::vector<std::string> notes;
};

// The plan of the run that `row` records (its history row, written after
// this, the restore points already pruned), or nullopt when there is nothing
// to do: no remote set, or the run placed no checked archive. `encrypted`
// says whether the run's archive is encrypted. Throws SettingsStoreError.
std::optional<OffsitePlan> PlanOffsiteCopy(SettingsStore& store, std::string_view saveTo,
                                           const HistoryRow& row, bool encrypted,
                                           const Clock& clock);

struct OffsiteResult {
  std::vector<OffsiteCopyRow> changed;  // rows to write
  std::vector<OffsiteCopyRow> deleted;  // rows whose remote copy was deleted
  // Empty when every copy succeeded; else what failed, in rclone's words.
  std::string failure;
  std::vector<std::string> lines;  // what was sent, sent again and deleted
};

// Runs the plan with rclone, within `deadline` and until `stop`. Touches no
// store and no clock but the steady one; `now` stamps what was read back.
OffsiteResult RunOffsiteCopy(const OffsitePlan& plan,
                             std::chrono::steady_clock::time_point deadline, const StopToken& stop,
                             std::int64_t now);

// Writes the result into the store and into `row` (its off-site columns).
// Throws SettingsStoreError.
void RecordOffsiteCopy(SettingsStore& store, const OffsitePlan& plan, const OffsiteResult& result,
                       HistoryRow& row);

// For each of `points`, "yes" when a proven copy of it is on the store's
// remote, else "no"; "-" for every one when no remote is set.
std::vector<std::string> OffsiteStates(SettingsStore& store, std::string_view name,
                                       const std::vector<RestorePoint>& points);

struct OffsitePoint {
  std::string file;  // in REMOTE/<name>/
  ArchiveTime time;  // from its name
};

// The files of REMOTE/<name> named as restore points of `name`, newest
// first: what a machine without the archives can restore. Fills `outcome`
// when the remote could not be listed.
std::vector<OffsitePoint> ListOffsitePoints(RcloneRemote& remote, std::string_view name,
                                            RemoteOutcome& outcome);

// Fetches REMOTE/<name>/<file> into a private temporary file, checked
// against the size and hash the store kept when it sent it, where it did.
FetchedFile FetchOffsitePoint(SettingsStore& store, RcloneRemote& remote,
                              const OffsiteSettings& settings, std::string_view name,
                              const std::string& file);

}  // namespace vaultwick
