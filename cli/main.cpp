// The vaultwick command-line program: dispatches on its first argument.

#include <cstdio>
#include <string_view>

#include "cli/backup_command.h"
#include "cli/zip_command.h"

namespace {

void printUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: vaultwick COMMAND [ARGUMENTS...]\n"
               "\n"
               "Commands:\n"
               "%s\n"
               "%s\n"
               "\n"
               "Run 'vaultwick COMMAND --help' for the arguments of a command.\n",
               vaultwick::kBackupCommandSummary, vaultwick::kZipCommandSummary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr);
    return 2;
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    printUsage(stdout);
    return 0;
  }
  if (command == "backup") {
    return vaultwick::runBackupCommand(argc - 2, argv + 2);
  }
  if (command == "zip") {
    return vaultwick::runZipCommand(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "vaultwick: unknown command '%s'\n", argv[1]);
  printUsage(stderr);
  return 2;
}
