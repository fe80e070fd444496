#pragma once

namespace vaultwick {

// `vaultwick backup --name NAME --host HOST[:PORT] --login LOGIN --database DB
// --save-to DIR`: runs one backup job as the scheduler would (no progress
// window), with the password from VAULTWICK_PASSWORD. Status texts, the end
// text and the copy-failure message go to standard error as they happen.
// `argv` holds the arguments after "backup". Returns 0 only when the backup
// completed without errors, 1 when it did not, 2 for a usage error.
int runBackupCommand(int argc, char** argv);

// One line for the program's overall usage text.
inline constexpr const char* kBackupCommandSummary =
    "  backup --name NAME --host HOST[:PORT] --login LOGIN --database DB --save-to DIR\n"
    "                                    back up one database into DIR/NAME.zip\n"
    "                                    (password from VAULTWICK_PASSWORD)";

}  // namespace vaultwick
