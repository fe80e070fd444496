#pragma once

#include "cli/command_support.h"

namespace vaultwick {

// `vaultwick zip [--level N] ARCHIVE FILE...`: packs files into a new archive.
// `argv` holds the arguments after "zip"; "-" reads io.in or writes io.out,
// which must then be streams over descriptors. Returns the exit status.
int RunZipCommand(int argc, char** argv, const CommandIo& io = {});

// One line for the program's overall usage text.
inline constexpr const char* kZipCommandSummary =
    "  zip [--level N] ARCHIVE FILE...   pack files into a new ZIP archive";

}  // namespace vaultwick
