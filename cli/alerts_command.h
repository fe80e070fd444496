#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick alerts set|show|test|clear [...] [--store FILE]`: the
// store-wide alerts and metrics for servers nobody watches. `argv` holds the
// arguments after "alerts". Returns 0, 1 when the store fails, a path is
// refused or a channel did not take the test alert, 2 for a usage error.
int RunAlertsCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kAlertsCommandSummary =
    "  alerts set|show|test|clear [--webhook URL] [--command CMD] [--metrics-file PATH]\n"
    "                                    alerts and metrics of every run";

}  // namespace vaultwick
