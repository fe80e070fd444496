#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick connections list | add [NAME] | show NAME | set NAME [options] |
// remove NAME [--store FILE]`: the stored connections. `list` prints one name
// per line and nothing else; `show` masks the password, which only ever
// arrives on standard input (`set --password-stdin`). `argv` holds the
// arguments after "connections". Returns 0, 1 when the store refuses or
// fails, 2 for a usage error.
int RunConnectionsCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kConnectionsCommandSummary =
    "  connections ACTION [NAME]         the stored connections: list, add, show, set,\n"
    "                                    remove";

}  // namespace vaultwick
