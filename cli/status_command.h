#pragma once

#include "cli/command_support.h"
#include "platform/clock.h"

namespace vaultwick {

// `vaultwick status [--json] [--store FILE]`: one line per stored connection
// (its last good backup and its age, its last run, when it is next due,
// whether it is stale or failing). Returns 0 when none is stale or failing,
// 1 otherwise or when the store fails, 2 for a usage error.
int RunStatusCommand(int argc, char** argv, const CommandIo& io = {},
                     const Clock& clock = SystemClock());

inline constexpr const char* kStatusCommandSummary =
    "  status [--json]                   whether every connection is backed up in time";

}  // namespace vaultwick
