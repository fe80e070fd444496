#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick backup --name NAME --host HOST[:PORT] --login LOGIN --database DB
// --save-to DIR`: runs one backup job as the scheduler would (no progress
// window), with the password from standard input (--password-stdin) or
// VAULTWICK_PASSWORD, on a thread it joins.
// Status texts, the end text and the copy-failure message go to io.err as
// they happen; the cause of a failure follows the end text on a line
// of its own. `argv` holds the arguments after "backup". Returns
//   0   the archive is placed and whole;
//   3   the archive is placed, but not all of the database could be read;
//   1   the backup failed and nothing was placed;
//   2   a usage error;
//   130, 143, 129   SIGINT, SIGTERM or SIGHUP stopped the job before its
//       archive was placed (nothing placed, no temporary files left);
//   5   not started: a run of the stored connection is already under way,
//       in this program or another.
// `vaultwick backup --connection NAME [--store FILE]` takes the six values
// from the settings store instead, and records the outcome in its history.
// The three signals are blocked while the command runs, so call it from the
// main thread before any other thread starts.
int RunBackupCommand(int argc, char** argv, const CommandIo& io = {});

// One line for the program's overall usage text.
inline constexpr const char* kBackupCommandSummary =
    "  backup --name NAME --host HOST[:PORT] --login LOGIN --database DB --save-to DIR\n"
    "                                    back up one database into DIR/NAME.zip\n"
    "                                    (password: --password-stdin or VAULTWICK_PASSWORD)\n"
    "  backup --connection NAME          back up a stored connection";

}  // namespace vaultwick
