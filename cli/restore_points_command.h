#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick restore-points NAME [--store FILE]`: the connection's archives,
// newest first, one line each. Returns 0, 1 when the store fails or there is
// no such connection, 2 for a usage error.
int RunRestorePointsCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kRestorePointsCommandSummary =
    "  restore-points NAME               the archives kept of a connection";

}  // namespace vaultwick
