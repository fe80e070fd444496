#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick offsite set REMOTE [--config FILE] | show | clear | check
// [--store FILE]`: the store-wide remote every new archive is also copied to.
// `argv` holds the arguments after "offsite". Returns 0, 1 when the store
// fails, a configuration file is missing or the check fails, 2 for a usage
// error.
int RunOffsiteCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kOffsiteCommandSummary =
    "  offsite set REMOTE [--config FILE] | show | clear | check\n"
    "                                    copy every new archive to an rclone remote";

}  // namespace vaultwick
