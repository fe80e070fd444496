#pragma once

// The SQL dump of one database: every table's CREATE TABLE statement, rebuilt
// from the server's metadata, followed by one INSERT statement per row, all
// appended to a text file with CR LF line ends.

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
  // The dump is incomplete as a whole: the table list could not be read, or
  // the connection was lost (server gone, connection lost, timeout). Such a
  // dump must never replace an earlier archive.
  bool serverLost = false;
  // Tables whose own queries failed while the connection stayed usable (a view
  // on a dropped table, a column the login may not read), in dump order.
  std::vector<std::string> failedTables;
  // The server's (or the file's) error text of the first failure, for the
  // caller to report; empty when nothing failed.
  std::string cause;
};

// Appends the dump of the database selected on `connection` to the file at
// `dumpPath` (created when missing, never truncated; it exists afterwards even
// when there is nothing to write). Sets the connection's character set to
// utf8mb4 first. Shows the query of each step through `status` and asks
// `cancelRequested` once per data row; when that answers true the function
// throws kCancelSignal, leaving in the file only the whole statements of
// earlier appends. After the cancel signal the connection has been cut (so
// that the rest of a large table is not read for nothing) and can only be
// closed; on a normal return it stays open and usable. A failed append stops
// the dump at once with writeFailed set.
DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const DumpCancelFn& cancelRequested);

}  // namespace vaultwick
