// The vaultwick command-line program: dispatches on its first argument.

#include <cstdio>
#include <string_view>

#include "cli/alerts_command.h"
#include "cli/backup_command.h"
#include "cli/connections_command.h"
#include "cli/history_command.h"
#include "cli/offsite_command.h"
#include "cli/passwords_command.h"
#include "cli/restore_command.h"
#include "cli/restore_points_command.h"
#include "cli/scheduler_command.h"
#include "cli/status_command.h"
#include "cli/target_command.h"
#include "cli/zip_command.h"
#include "common/version.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: vaultwick COMMAND [ARGUMENTS...]\n"
      "\n"
      "Commands:\n"
      "%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n"
      "\n"
      "Run 'vaultwick COMMAND --help' for the arguments of a command,\n"
      "'vaultwick --version' for the version.\n"
      "Commands that use the stored connections take --store FILE; without it\n"
      "they use $VAULTWICK_STORE, else $XDG_CONFIG_HOME/tessaly-vaultwick/settings.sqlite.\n",
      vaultwick::kConnectionsCommandSummary, vaultwick::kTargetCommandSummary,
      vaultwick::kBackupCommandSummary, vaultwick::kSchedulerCommandSummary,
      vaultwick::kHistoryCommandSummary, vaultwick::kStatusCommandSummary,
      vaultwick::kAlertsCommandSummary, vaultwick::kOffsiteCommandSummary,
      vaultwick::kRestoreCommandSummary, vaultwick::kRestorePointsCommandSummary,
      vaultwick::kPasswordsCommandSummary, vaultwick::kZipCommandSummary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("vaultwick %s\n", vaultwick::kVaultwickVersion);
    return 0;
  }
  struct Entry {
    std::string_view name;
    int (*run)(int, char**);
  };
  static constexpr Entry kCommands[] = {
      {"backup", [](int n, char** v) { return vaultwick::RunBackupCommand(n, v); }},
      {"zip", [](int n, char** v) { return vaultwick::RunZipCommand(n, v); }},
      {"connections", [](int n, char** v) { return vaultwick::RunConnectionsCommand(n, v); }},
      {"target", [](int n, char** v) { return vaultwick::RunTargetCommand(n, v); }},
      {"scheduler", [](int n, char** v) { return vaultwick::RunSchedulerCommand(n, v); }},
      {"history", [](int n, char** v) { return vaultwick::RunHistoryCommand(n, v); }},
      {"status", [](int n, char** v) { return vaultwick::RunStatusCommand(n, v); }},
      {"alerts", [](int n, char** v) { return vaultwick::RunAlertsCommand(n, v); }},
      {"offsite", [](int n, char** v) { return vaultwick::RunOffsiteCommand(n, v); }},
      {"restore", [](int n, char** v) { return vaultwick::RunRestoreCommand(n, v); }},
      {"passwords", [](int n, char** v) { return vaultwick::RunPasswordsCommand(n, v); }},
      {"restore-points", [](int n, char** v) { return vaultwick::RunRestorePointsCommand(n, v); }},
  };
  for (const Entry& entry : kCommands) {
    if (entry.name == command) {
      return entry.run(argc - 2, argv + 2);
    }
  }
  std::fprintf(stderr, "vaultwick: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
