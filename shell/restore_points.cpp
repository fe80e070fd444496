#include "shell/restore_points.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/check.h"
#include "platform/files.h"
#include "shell/connections.h"
#include "shell/history.h"

namespace vaultwick {
namespace {

// The history is searched this far back for the runs of a connection's
// points: every row it keeps.
constexpr int kRunsSearched = SettingsStore::kHistoryRowsKept;

bool PlacedAnArchive(const HistoryRow& row) {
  return row.result == BackupResultName(BackupResult::Complete) ||
         row.result == BackupResultName(BackupResult::CompleteWithErrors);
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

bool RestorePoint::Verified() const {
  return run && run->verified == VerifyRestoreResultName(VerifyRestoreOutcome::Result::Verified);
}

std::vector<RestorePoint> MatchRuns(const std::vector<ArchiveFile>& files,
                                    const std::vector<HistoryRow>& runs) {
  std::vector<bool> taken(runs.size(), false);
  std::vector<RestorePoint> points;
  for (const ArchiveFile& file : files) {
    const std::int64_t written = file.modified.time_since_epoch().count();
    std::optional<HistoryRow> placedBy;
    for (std::size_t i = 0; i < runs.size() && !placedBy; ++i) {
      const HistoryRow& run = runs[i];
      if (!taken[i] && PlacedAnArchive(run) &&
          run.archiveSize == static_cast<std::int64_t>(file.size) && run.startedAt - 1 <= written &&
          written <= run.endedAt + 1) {
        taken[i] = true;
        placedBy = run;
      }
    }
    points.push_back({file, std::move(placedBy)});
  }
  return points;
}

std::vector<RestorePoint> ListRestorePoints(SettingsStore& store, std::string_view saveTo,
                                            std::string_view name,
                                            const std::vector<HistoryRow>& moreRuns) {
  std::vector<HistoryRow> runs = moreRuns;
  const std::vector<HistoryRow> stored = store.ReadHistory(name, kRunsSearched);
  runs.insert(runs.end(), stored.begin(), stored.end());
  return MatchRuns(ListArchiveFiles(saveTo, name), runs);
}

std::optional<WallTime> ParseRestoreAt(std::string_view text, const Clock& clock) {
  constexpr std::size_t kDate = 10;           // "YYYY-MM-DD"
  constexpr std::size_t kDateAndMinute = 16;  // "YYYY-MM-DD HH:MM"
  std::string full(text);
  if (text.size() == kDate) {
    full += " 00:00:00";
  } else if (text.size() == kDateAndMinute) {
    full += ":00";
  } else {
    return std::nullopt;
  }
  const std::optional<LocalTime> local = ParseLocalTime(full);
  return local ? clock.FromLocalTime(*local) : std::nullopt;
}

const RestorePoint* PointAtOrBefore(const std::vector<RestorePoint>& points, WallTime at) {
  for (const RestorePoint& point : points) {
    if (point.file.time <= at) {
      return &point;
    }
  }
  return nullptr;
}

bool RunMayPrune(const HistoryRow& row) {
  return row.result == BackupResultName(BackupResult::Complete) && row.archiveChecked == true;
}

void PruneAfterRun(SettingsStore& store, std::string_view saveTo, HistoryRow& row,
                   const Clock& clock, const HeldConnectionLock& lock) {
  VW_ASSERT(SameConnectionName(lock.Connection(), row.connection));
  if (!RunMayPrune(row) || saveTo.empty()) {
    return;
  }
  const std::optional<KeepPolicy> policy = LoadKeepPolicy(store, row.connection);
  if (!policy) {
    return;  // removed meanwhile: nothing says what to keep
  }
  const std::vector<RestorePoint> points = ListRestorePoints(store, saveTo, row.connection, {row});
  // Oldest first: of two points of one second the policy takes the later
  // in its list as the newer, and <name>.zip is newer than a point it replaced.
  std::vector<PointFacts> facts;
  for (auto point = points.rbegin(); point != points.rend(); ++point) {
    facts.push_back({point->file.time, point->Verified()});
  }
  const std::vector<unsigned> kept = ApplyKeepPolicy(facts, *policy, clock);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const ArchiveFile& file = points[i].file;
    if (kept[points.size() - 1 - i] != kKeptNot || file.current) {
      continue;
    }
    if (const int error = DeleteFile(file.path); error != 0) {
      row.cause += std::string(row.cause.empty() ? "" : "; ") + "Could not remove restore point " +
                   file.path + ": " + std::strerror(error);
      continue;
    }
    row.pruned += (row.pruned.empty() ? "" : "\n") + FileName(file.path);
  }
}

}  // namespace vaultwick
