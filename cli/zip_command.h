#pragma once

namespace vaultwick {

// `vaultwick zip [--level N] ARCHIVE FILE...`: packs files into a new archive.
// `argv` holds the arguments after "zip". Returns the process exit status.
int runZipCommand(int argc, char** argv);

// One line for the program's overall usage text.
inline constexpr const char* kZipCommandSummary =
    "  zip [--level N] ARCHIVE FILE...   pack files into a new ZIP archive";

}  // namespace vaultwick
