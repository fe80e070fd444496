#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick history [NAME] [--limit N] [--store FILE]`: the newest jobs
// first, of one connection or of all, one line each. `argv` holds the
// arguments after "history". Returns 0, 1 when the store fails, 2 for a
// usage error.
int RunHistoryCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kHistoryCommandSummary =
    "  history [NAME] [--limit N]        what the last backups did";

}  // namespace vaultwick
