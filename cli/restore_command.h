#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick restore`: loads the SQL dump of an archive into a database.
// `argv` holds the arguments after "restore". Returns 0 when restored, 1 on a
// failure, 2 for a usage error, 128 + the signal's number when SIGINT,
// SIGTERM or SIGHUP stopped it.
int RunRestoreCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kRestoreCommandSummary =
    "  restore --database DB ...         load an archive's dump into a database";

}  // namespace vaultwick
