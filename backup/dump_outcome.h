#pragma once

// What one dump reports through and what it answers: the status callback and
// the outcome.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vaultwick {

using DumpStatusFn = std::function<void(const char* text)>;

struct DumpOutcome {
  std::uint64_t rowsWritten = 0;  // INSERT statements written
  int failedQueries = 0;          // queries that failed: tables left out, without indexes or rows
  bool writeFailed = false;       // the dump file could not be opened or appended to
  // The dump is incomplete as a whole: the session could not be prepared, the
  // table list could not be read, or the connection was lost (server gone,
  // connection lost, timeout). Such a dump must never replace an earlier archive.
  bool serverLost = false;
  // The dump saw `stop` at a row and ended there (see DumpDatabase).
  bool stopped = false;
  // What could not be written in full while the connection stayed usable, in
  // dump order: tables, views, routines, triggers and events by name (a view
  // on a dropped table, a column the login may not read; a table also stands
  // for its triggers the login may not read), and the kinds of objects that
  // could not be listed or read as a whole ("CHECK constraints", "privileges",
  // "foreign keys", "stored routines", "triggers", "events").
  std::vector<std::string> failedTables;
  // The server's (or the file's) error text of the failure that stopped the
  // dump, else of the first failure, for the caller to report; empty when
  // nothing failed.
  std::string cause;
};

}  // namespace vaultwick
