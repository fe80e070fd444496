#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick target [DIR] [--store FILE]`: without DIR prints the target
// folder; with DIR makes its last level when missing, and stores it (as an
// absolute path) when it then exists. `argv` holds the arguments after
// "target". Returns 0, 1 when the folder is refused or the store fails, 2
// for a usage error.
int RunTargetCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kTargetCommandSummary =
    "  target [DIR]                      show or set the folder the archives go to";

}  // namespace vaultwick
