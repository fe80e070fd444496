#pragma once

// The SQL dump of one database: a few SET lines, then every table's CREATE
// TABLE statement, rebuilt from the server's metadata, followed by one INSERT
// statement per row, and a closing COMMIT, all appended to a text file with
// CR LF line ends.

#include <mysql.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vaultwick {

// DumpDatabase raises the cancel signal as `throw kCancelSignal;`.
inline constexpr int kCancelSignal = 1;

using DumpStatusFn = std::function<void(const char* text)>;
using DumpCancelFn = std::function<bool()>;  // true once the user asked to cancel

struct DumpOutcome {
  std::uint64_t rowsWritten = 0;  // INSERT statements written
  int failedQueries = 0;          // queries that failed: tables left out, without indexes or rows
  bool writeFailed = false;       // the dump file could not be opened or appended to
  // The dump is incomplete as a whole: the session could not be prepared, the
  // table list could not be read, or the connection was lost (server gone,
  // connection lost, timeout). Such a dump must never replace an earlier archive.
  bool serverLost = false;
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

// Appends the dump of the database selected on `connection` to the file at
// `dumpPath` (created when missing, never truncated). The dump opens with
// lines that set the client's character set (utf8mb4), time zone (UTC) and
// SQL mode, so that any client loads back the values as they were read, and
// turn autocommit off, so that a restore does not commit once per row; all
// tables are read in one consistent snapshot (a read-only transaction) with
// the session in that character set, zone and mode, and the session keeps
// them afterwards.
//
// Shows the query of each step through `status` and asks `cancelRequested`
// once per data row; when that answers true the function throws
// kCancelSignal, leaving in the file only the whole statements of earlier
// appends. After the cancel signal the connection has been cut (so that the
// rest of a large table is not read for nothing) and can only be closed.
//
// A lost connection or a failed table list (serverLost) and a failed append
// (writeFailed) stop the dump at once; the file is then incomplete and must
// not be used. A failed query of one table leaves that table out, without
// indexes or without rows (failedTables) and the dump goes on. On a normal
// return the file exists, even when there was nothing to write, and the
// connection stays open and usable.
DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const DumpCancelFn& cancelRequested);

}  // namespace vaultwick
