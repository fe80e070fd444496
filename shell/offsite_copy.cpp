#include "shell/offsite_copy.h"

#include <sys/stat.h>

#include <algorithm>

#include "backup/restore_point_layout.h"
#include "shell/connections.h"
#include "shell/history.h"
#include "shell/keep_policy.h"
#include "shell/offsite_settings.h"
#include "shell/restore_points.h"

namespace vaultwick {
namespace {

std::int64_t Seconds(ArchiveTime time) {
  return time.time_since_epoch().count();
}

bool PlacedAndChecked(const HistoryRow& row) {
  return (row.result == BackupResultName(BackupResult::Complete) ||
          row.result == BackupResultName(BackupResult::CompleteWithErrors)) &&
         row.archiveChecked == true;
}

std::int64_t Inode(const ArchiveFile& file) {
  struct stat facts {};
  return ::stat(file.path.c_str(), &facts) == 0 ? static_cast<std::int64_t>(facts.st_ino) : -1;
}

// The local archive a row stands for: the file of its inode, size and
// modification time, all of which the link or rename that makes it a
// restore point keeps.
const ArchiveFile* LocalArchive(const std::vector<ArchiveFile>& files, const OffsiteCopyRow& row) {
  for (const ArchiveFile& file : files) {
    if (static_cast<std::int64_t>(file.size) == row.size &&
        Seconds(file.modified) == row.modified && Inode(file) == row.inode) {
      return &file;
    }
  }
  return nullptr;
}

bool ByFile(const OffsiteItem& a, const OffsiteItem& b) {
  return a.row.file < b.row.file;
}

// The rows of `items` that the keep policy lets go: each is a point at the
// time its name carries (a name that carries none is kept: nothing is
// deleted on a guess).
std::vector<OffsiteCopyRow> Retired(std::vector<OffsiteItem> items, std::string_view name,
                                    const KeepPolicy& policy, const Clock& clock) {
  std::sort(items.begin(), items.end(), ByFile);
  std::erase_if(items, [&](const OffsiteItem& item) {
    return !ParseRestorePointFileName(name, item.row.file);
  });
  std::vector<PointFacts> facts;
  for (const OffsiteItem& item : items) {
    facts.push_back({*ParseRestorePointFileName(name, item.row.file), item.row.verified});
  }
  const std::vector<unsigned> kept = ApplyKeepPolicy(facts, policy, clock);
  std::vector<OffsiteCopyRow> retired;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (kept[i] == kKeptNot) {
      retired.push_back(items[i].row);
    }
  }
  return retired;
}

bool Among(const std::vector<OffsiteCopyRow>& rows, const OffsiteCopyRow& row) {
  return std::any_of(rows.begin(), rows.end(),
                     [&](const OffsiteCopyRow& other) { return other.file == row.file; });
}

}  // namespace

std::optional<OffsitePlan> PlanOffsiteCopy(SettingsStore& store, std::string_view saveTo,
                                           const HistoryRow& row, bool encrypted,
                                           const Clock& clock) {
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  if (!settings.IsSet() || !PlacedAndChecked(row) || saveTo.empty()) {
    return std::nullopt;
  }
  const std::optional<ConnectionRow> connection = store.ReadConnection(row.connection);
  if (!connection) {
    return std::nullopt;
  }
  OffsitePlan plan;
  plan.rclone = settings.Rclone();
  plan.folder = connection->name;
  const std::vector<ArchiveFile> files = ListArchiveFiles(saveTo, row.connection);
  std::vector<OffsiteCopyRow> rows = store.ReadOffsiteCopies(connection->name, settings.remote);

  // The run's own archive waits in the store from now on, so that a run
  // that ends before its copy leaves it to the next one.
  auto current = std::find_if(files.begin(), files.end(),
                              [](const ArchiveFile& file) { return file.current; });
  if (current != files.end() &&
      std::none_of(rows.begin(), rows.end(), [&](const OffsiteCopyRow& known) {
        return LocalArchive({*current}, known) != nullptr;
      })) {
    OffsiteCopyRow fresh;
    fresh.connection = connection->name;
    fresh.remote = settings.remote;
    fresh.size = static_cast<std::int64_t>(current->size);
    fresh.modified = Seconds(current->modified);
    fresh.inode = Inode(*current);
    fresh.encrypted = encrypted;
    fresh.verified =
        row.verified == VerifyRestoreResultName(VerifyRestoreOutcome::Result::Verified);
    // The name its restore point will have, a second later where an earlier
    // copy took that one.
    ArchiveTime time = current->time;
    fresh.file = RestorePointFileName(row.connection, time);
    while (!fresh.file.empty() && Among(rows, fresh)) {
      time += std::chrono::seconds(1);
      fresh.file = RestorePointFileName(row.connection, time);
    }
    if (!fresh.file.empty()) {
      store.WriteOffsiteCopy(fresh);
      rows.push_back(fresh);
    }
  }

  for (const OffsiteCopyRow& known : rows) {
    const ArchiveFile* local = LocalArchive(files, known);
    if (known.sent) {
      plan.sent.push_back({known, local != nullptr ? local->path : std::string()});
    } else if (local == nullptr) {
      plan.dropped.push_back(known);
      plan.notes.push_back("not sent, no longer kept here: " + known.file);
    } else if (connection->encryptArchives != 0 && !known.encrypted) {
      plan.dropped.push_back(known);
      plan.notes.push_back("not sent, made before archives were encrypted: " + known.file);
    } else {
      plan.pending.push_back({known, local->path});
    }
  }
  std::sort(plan.pending.begin(), plan.pending.end(), ByFile);

  if (RunMayPrune(row)) {
    if (const std::optional<KeepPolicy> policy = LoadKeepPolicy(store, connection->name)) {
      std::vector<OffsiteItem> all = plan.sent;
      all.insert(all.end(), plan.pending.begin(), plan.pending.end());
      plan.retire = Retired(all, row.connection, *policy, clock);
      // A copy that would be deleted once made is not made.
      std::erase_if(plan.pending, [&](const OffsiteItem& item) {
        if (!Among(plan.retire, item.row)) {
          return false;
        }
        plan.dropped.push_back(item.row);
        plan.notes.push_back("not sent, the keep policy lets it go: " + item.row.file);
        return true;
      });
      std::erase_if(plan.retire, [&](const OffsiteCopyRow& retired) { return !retired.sent; });
    }
  }
  return plan;
}

OffsiteResult RunOffsiteCopy(const OffsitePlan& plan,
                             std::chrono::steady_clock::time_point deadline, const StopToken& stop,
                             std::int64_t now) {
  RcloneRemote remote(plan.rclone, deadline, stop);
  OffsiteResult result;
  std::vector<OffsiteItem> toSend = plan.pending;
  auto sendAgain = [&](OffsiteItem item, const std::string& why) {
    item.row.error = why;
    if (item.localPath.empty()) {
      result.changed.push_back(item.row);
      result.lines.push_back("cannot be sent again, no copy is left here: " + item.row.file + " (" +
                             why + ")");
      return;
    }
    result.lines.push_back("sent again: " + item.row.file + " (" + why + ")");
    item.row.sent = false;
    toSend.push_back(std::move(item));
  };

  if (!plan.sent.empty()) {
    const RemoteListing listing = remote.List(plan.folder);
    if (!listing.outcome.ok()) {
      result.failure = listing.outcome.text;
      return result;
    }
    const OffsiteItem* readBack = nullptr;
    for (const OffsiteItem& item : plan.sent) {
      auto entry = std::find_if(listing.entries.begin(), listing.entries.end(),
                                [&](const RemoteEntry& e) { return e.file == item.row.file; });
      std::string damage;
      if (entry == listing.entries.end()) {
        damage = "the remote copy is missing";
      } else if (static_cast<std::int64_t>(entry->size) != item.row.size) {
        damage = "the remote copy's size differs";
      } else if (!entry->hash.empty() && !item.row.hash.empty() && entry->hash != item.row.hash) {
        damage = "the remote copy's hash differs";
      }
      if (!damage.empty()) {
        sendAgain(item, damage);
      } else if (!item.localPath.empty() &&
                 (readBack == nullptr || item.row.readBackAt < readBack->row.readBackAt)) {
        readBack = &item;
      }
    }
    // A remote may answer with the hash it computed on arrival: only the
    // bytes read back show damage done since. One copy a run, the one read
    // back longest ago.
    if (readBack != nullptr) {
      const RemoteOutcome proven =
          remote.Prove(readBack->localPath, plan.folder, readBack->row.file, true);
      if (proven.ok()) {
        OffsiteCopyRow row = readBack->row;
        row.readBackAt = now;
        row.error.clear();
        result.changed.push_back(std::move(row));
      } else if (proven.code == RemoteCode::Differs) {
        sendAgain(*readBack, proven.text);
      } else {
        result.failure = proven.text;
        return result;
      }
    }
  }

  std::stable_sort(toSend.begin(), toSend.end(), ByFile);
  for (OffsiteItem& item : toSend) {
    RemoteOutcome outcome = remote.Copy(item.localPath, plan.folder, item.row.file);
    LocalFacts facts;
    if (outcome.ok()) {
      outcome = remote.Prove(item.localPath, plan.folder, item.row.file, false, &facts);
    }
    if (!outcome.ok()) {
      item.row.error = outcome.text;
      result.changed.push_back(item.row);
      result.failure = outcome.text;
      result.lines.push_back("not sent: " + item.row.file);
      return result;
    }
    RemoteOutcome asked;
    item.row.sent = true;
    item.row.hash = facts.hash;
    item.row.error.clear();
    // Where the remote has no hash the proof read the copy back.
    item.row.readBackAt = remote.AskHashKind(asked) == HashKind::None ? now : 0;
    result.changed.push_back(item.row);
    result.lines.push_back("sent: " + item.row.file);
  }

  for (const OffsiteCopyRow& retired : plan.retire) {
    const RemoteOutcome deleted = remote.Delete(plan.folder, retired.file);
    if (deleted.ok()) {
      result.deleted.push_back(retired);
      result.lines.push_back("deleted: " + retired.file);
    } else {
      result.lines.push_back("not deleted: " + retired.file + " (" + deleted.text + ")");
    }
  }
  return result;
}

void RecordOffsiteCopy(SettingsStore& store, const OffsitePlan& plan, const OffsiteResult& result,
                       HistoryRow& row) {
  store.WriteTransaction([&] {
    for (const OffsiteCopyRow& dropped : plan.dropped) {
      store.DeleteOffsiteCopy(dropped);
    }
    for (const OffsiteCopyRow& changed : result.changed) {
      store.WriteOffsiteCopy(changed);
    }
    for (const OffsiteCopyRow& deleted : result.deleted) {
      store.DeleteOffsiteCopy(deleted);
    }
  });
  row.offsite = result.failure.empty() ? kOffsiteCopied : kOffsiteFailed;
  std::vector<std::string> lines = plan.notes;
  lines.insert(lines.end(), result.lines.begin(), result.lines.end());
  if (!result.failure.empty()) {
    lines.push_back(result.failure);
  }
  row.offsiteDetail.clear();
  for (const std::string& line : lines) {
    row.offsiteDetail += (row.offsiteDetail.empty() ? "" : "\n") + line;
  }
}

}  // namespace vaultwick

namespace vaultwick {

std::vector<std::string> OffsiteStates(SettingsStore& store, std::string_view name,
                                       const std::vector<RestorePoint>& points) {
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  if (!settings.IsSet()) {
    return std::vector<std::string>(points.size(), "-");
  }
  const std::vector<OffsiteCopyRow> rows = store.ReadOffsiteCopies(name, settings.remote);
  std::vector<std::string> states;
  for (const RestorePoint& point : points) {
    const bool sent = std::any_of(rows.begin(), rows.end(), [&](const OffsiteCopyRow& row) {
      return row.sent && LocalArchive({point.file}, row) != nullptr;
    });
    states.push_back(sent ? "yes" : "no");
  }
  return states;
}

std::vector<OffsitePoint> ListOffsitePoints(RcloneRemote& remote, std::string_view name,
                                            RemoteOutcome& outcome) {
  const RemoteListing listing = remote.List(name);
  std::vector<OffsitePoint> points;
  if (!listing.outcome.ok()) {
    outcome = listing.outcome;
    return points;
  }
  for (const RemoteEntry& entry : listing.entries) {
    if (std::optional<ArchiveTime> time = ParseRestorePointFileName(name, entry.file)) {
      points.push_back({entry.file, *time});
    }
  }
  std::sort(points.begin(), points.end(),
            [](const OffsitePoint& a, const OffsitePoint& b) { return a.time > b.time; });
  return points;
}

FetchedFile FetchOffsitePoint(SettingsStore& store, RcloneRemote& remote,
                              const OffsiteSettings& settings, std::string_view name,
                              const std::string& file) {
  std::optional<LocalFacts> sent;
  for (const OffsiteCopyRow& row : store.ReadOffsiteCopies(name, settings.remote)) {
    if (row.file == file && row.sent && !row.hash.empty()) {
      sent = LocalFacts{static_cast<std::uint64_t>(row.size), row.hash};
    }
  }
  return remote.Fetch(name, file, sent);
}

}  // namespace vaultwick
