#include "cli/target_command.h"

#include "shell/target_folder.h"

namespace vaultwick {
namespace {

constexpr std::string_view kCommand = "target";

constexpr const char* kUsage =
    "usage: vaultwick target [DIR] [--store FILE]\n"
    "Without DIR prints the target folder every connection's archive goes to.\n"
    "With DIR makes the folder when only its last level is missing and keeps it.\n";

constexpr OptionSpec kOptions[] = {kStoreOption};

}  // namespace

int RunTargetCommand(int argc, char** argv, const CommandIo& io) {
  std::string problem;
  std::optional<ParsedArguments> arguments = ParseArguments(argc, argv, kOptions, &problem);
  if (!arguments || arguments->positional.size() > 1) {
    PrintError(io, kCommand, arguments ? "too many arguments" : problem);
    std::fputs(kUsage, io.err);
    return kExitUsage;
  }
  if (arguments->help) {
    std::fputs(kUsage, io.out);
    return kExitOk;
  }
  std::unique_ptr<SettingsStore> store = OpenCommandStore(*arguments, io, kCommand);
  if (!store) {
    return kExitFailed;
  }
  try {
    if (arguments->positional.empty()) {
      const std::string folder = LoadTargetFolder(*store);
      if (folder.empty()) {
        PrintError(io, kCommand, "no target folder is set");
      } else {
        std::fprintf(io.out, "%s\n", folder.c_str());
      }
      return kExitOk;
    }
    const std::string& typed = arguments->positional[0];
    std::optional<std::string> accepted = CheckTargetFolder(typed);
    if (!accepted) {
      PrintError(io, kCommand, std::string(kTextTargetFolderMissing) + ": " + typed);
      return kExitFailed;
    }
    SaveTargetFolder(*store, *accepted);
    std::fprintf(io.out, "%s\n", accepted->c_str());
    return kExitOk;
  } catch (const SettingsStoreError& error) {
    PrintError(io, kCommand, error.what());
    return kExitFailed;
  }
}

}  // namespace vaultwick
