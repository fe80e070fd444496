#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick passwords [keyring|store] [--store FILE]`: where the connections'
// passwords are kept, and moving them. `argv` holds the arguments after
// "passwords". Returns 0; 1 when the store fails or a connection's passwords
// cannot be read or moved where they are to be kept; 2 for a usage error.
int RunPasswordsCommand(int argc, char** argv, const CommandIo& io = {});

inline constexpr const char* kPasswordsCommandSummary =
    "  passwords [keyring|store]         where the passwords are kept: the desktop keyring\n"
    "                                    or the store's file";

}  // namespace vaultwick
