#pragma once

// The SQL dump of one database: a few SET lines, then every table's CREATE
// TABLE statement, rebuilt from the server's metadata, followed by one INSERT
// statement per row, and a closing COMMIT, all appended to a text file with
// CR LF line ends.

#include <mysql.h>

#include "backup/dump_outcome.h"
#include "common/stop_token.h"

namespace vaultwick {

// Appends the dump of the database selected on `connection` to the file at
// `dumpPath` (created when missing, never truncated). The dump opens with
// lines that set the client's character set (utf8mb4), time zone (UTC) and
// SQL mode, so that any client loads back the values as they were read, and
// turn autocommit off, so that a restore does not commit once per row; all
// tables are read in one consistent snapshot (a read-only transaction) with
// the session in that character set, zone and mode, and the session keeps
// them afterwards.
//
// Shows the query of each step through `status` and looks at `stop` once per
// data row; once it is stopped the dump ends at once (stopped), leaving in
// the file only the whole statements of earlier appends. The connection has
// then been cut (so that the rest of a large table is not read for nothing)
// and can only be closed.
//
// A lost connection or a failed table list (serverLost) and a failed append
// (writeFailed) stop the dump at once; the file is then incomplete and must
// not be used. A failed query of one table leaves that table out, without
// indexes or without rows (failedTables) and the dump goes on. On a normal
// return the file exists, even when there was nothing to write, and the
// connection stays open and usable.
DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const StopToken& stop = StopToken::Never());

}  // namespace vaultwick
