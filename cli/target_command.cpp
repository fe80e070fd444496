#include "cli/target_command.h"

#include "shell/target_folder.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick target [DIR] [--store FILE]\n"
    "Without DIR prints the target folder every connection's archive goes to.\n"
    "With DIR makes the folder when only its last level is missing and keeps it.\n";

constexpr OptionSpec kOptions[] = {kStoreOption};
constexpr CommandSpec kSpec{"target", kUsage, kOptions, 1};

int ShowOrSet(SettingsStore& store, const ParsedArguments& arguments, const CommandIo& io) {
  if (arguments.positional.empty()) {
    const std::string folder = LoadTargetFolder(store);
    if (folder.empty()) {
      PrintError(io, kSpec.name, "no target folder is set");
    } else {
      std::fprintf(io.out, "%s\n", folder.c_str());
    }
    return kExitOk;
  }
  const std::string& typed = arguments.positional[0];
  std::optional<std::string> accepted = CheckTargetFolder(typed);
  if (!accepted) {
    PrintError(io, kSpec.name, std::string(kTextTargetFolderMissing) + ": " + typed);
    return kExitFailed;
  }
  SaveTargetFolder(store, *accepted);
  std::fprintf(io.out, "%s\n", accepted->c_str());
  return kExitOk;
}

}  // namespace

int RunTargetCommand(int argc, char** argv, const CommandIo& io) {
  return RunStoreCommand(kSpec, argc, argv, io,
                         [&](SettingsStore& store, const ParsedArguments& arguments) {
                           return ShowOrSet(store, arguments, io);
                         });
}

}  // namespace vaultwick
