#pragma once

// The SQL dump of one database: every table's CREATE TABLE statement, rebuilt
// from the server's metadata, followed by one INSERT statement per row, all
// appended to a text file with CR LF line ends.

#include <mysql.h>

#include <cstdint>
#include <functional>

namespace vaultwick {

// DumpDatabase raises the cancel signal as `throw kCancelSignal;`.
inline constexpr int kCancelSignal = 1;

using DumpStatusFn = std::function<void(const char* text)>;
using DumpCancelFn = std::function<bool()>;  // true once the user asked to cancel

struct DumpOutcome {
  std::uint64_t rowsWritten = 0;  // INSERT statements written
  int failedQueries = 0;          // queries that failed: tables left out, without indexes or rows
  bool writeFailed = false;       // the dump file could not be opened or appended to
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
