#pragma once

// Restores a database from an archive the backup made: the archive's one SQL
// dump is streamed from the archive into the server without being unpacked
// to disk, into a staging database that the target takes only once the dump
// has been read to its end and proved whole (so a damaged archive never
// half-loads a database). A load in place proves the dump whole first.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/server_login.h"
#include "common/stop_token.h"

namespace vaultwick {

inline constexpr unsigned kMostJobs = 8;

struct RestoreRequest {
  std::string archivePath;
  std::string archivePassword;  // opens an encrypted archive; empty: none
  ServerLogin server;           // server.database is created when missing
  // A database that holds tables, routines or events is refused unless this
  // is set; then what the dump makes replaces whatever of the database has
  // the same names, and nothing else of it is touched.
  bool replace = false;
  // The dump is loaded into a staging database beside the target, and the
  // target changes only once the whole dump is in (see StagingDatabase).
  // With this set it is loaded straight into the target instead, which a
  // failed or stopped load leaves partly loaded: for a database that the
  // caller drops again whatever happens (a test restore's scratch database).
  bool loadInPlace = false;
  // The connections that load at once (see ParallelLoad); 0: one per core,
  // at most kMostJobs.
  unsigned jobs = 0;
  StopToken stop;
};

struct RestoreProgress {
  enum class Phase { Checking, Loading };  // Checking: a load in place's first pass
  Phase phase = Phase::Checking;
  std::uint64_t bytesDone = 0;  // of the inflated dump
  // From the archive's headers when they give it; else known once read all.
  std::uint64_t bytesTotal = 0;
  std::uint64_t rows = 0;
  std::string table;         // the quoted name of the table made last
  unsigned connections = 0;  // loading: those at work
};

enum class RestoreResult {
  Restored,
  ArchiveUnusable,   // cannot be read, holds no single dump, is damaged or cut short
  ConnectFailed,     // the server could not be reached or refused the login
  DatabaseNotEmpty,  // holds something and --replace was not given
  DatabaseFailed,    // it, or the staging database, could not be made, selected or moved in
  StatementFailed,   // the server refused a statement of the dump
  Stopped,
};

struct RestoreOutcome {
  RestoreResult result = RestoreResult::Restored;
  // What went wrong, one line; it also says whether the target was left as
  // it was. When restored: empty, or what was left behind on the way.
  std::string message;
  std::uint64_t line = 0;  // StatementFailed: where the refused statement starts
  std::string statement;   // StatementFailed: its start
  std::uint64_t rows = 0;
  std::uint64_t bytes = 0;  // of the dump
};

// Runs the whole restore; the calling thread reads the archive, the load's
// connections send on threads of their own. `progress` (optional) is called
// now and then, on the calling thread, with where the restore stands.
RestoreOutcome RestoreDatabase(const RestoreRequest& request,
                               const std::function<void(const RestoreProgress&)>& progress = {});

}  // namespace vaultwick
