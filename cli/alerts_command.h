#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick alerts set|show|clear [--metrics-file PATH] [--store FILE]`: the
// store-wide settings for servers nobody watches. `argv` holds the arguments
// after "alerts". Returns 0, 1 when the store fails or a path is refused, 2
// for a usage error.
int RunAlertsCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kAlertsCommandSummary =
    "  alerts set|show|clear [--metrics-file PATH]\n"
    "                                    metrics of every run for a monitoring system";

}  // namespace vaultwick
