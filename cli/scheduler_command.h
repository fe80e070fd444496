#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick scheduler [--store FILE]`: the scheduler without a window, in the
// foreground. Once a minute it walks the stored connections and starts those
// due this hour; it logs one line per start and one per outcome to io.out,
// and every job's outcome goes into the history. SIGTERM, SIGINT or SIGHUP
// stop it: running jobs are asked to stop and waited for (within a bound),
// so their temporary folders are gone when it exits.
//
// The three signals are blocked for the rest of the process, so call it from
// the main thread before any other thread starts. `argv` holds the arguments
// after "scheduler". Returns 0 after a clean stop, 1 when the store cannot be
// opened or a job did not end in time, 2 for a usage error.
//
// For tests, --test-clock YYYY-MM-DDTHH:MM:SS stands the clock still at that
// time (as UTC) and runs one tick at once.
int RunSchedulerCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kSchedulerCommandSummary =
    "  scheduler                         back up the connections on their schedules\n"
    "                                    (foreground; stop with SIGTERM or Ctrl-C)";

}  // namespace vaultwick
