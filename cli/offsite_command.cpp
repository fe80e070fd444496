#include "cli/offsite_command.h"

#include "shell/offsite_settings.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick offsite set REMOTE [--config FILE] [--store FILE]\n"
    "       vaultwick offsite show [--store FILE]\n"
    "       vaultwick offsite clear [--store FILE]\n"
    "       vaultwick offsite check [--store FILE]\n"
    "REMOTE is in rclone's notation (remote:bucket/path), as `rclone config` named\n"
    "it; --config FILE is rclone's configuration file (default: rclone's own).\n"
    "After every run that placed and checked its archive, the new archive is\n"
    "copied to REMOTE/<name>/<file> and proven there; the connection's keep policy\n"
    "applies to those copies too. show prints the remote and warns about\n"
    "connections whose archives are not encrypted; clear stops the copies (those\n"
    "made stay); check writes, lists, reads back and deletes a small file there.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--config", true}};
constexpr CommandSpec kSpec{"offsite", kUsage, kOptions, 2};

int Show(SettingsStore& store, const CommandIo& io) {
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  if (!settings.IsSet()) {
    std::fprintf(io.out, "remote: -\n");
    return kExitOk;
  }
  std::fprintf(io.out, "remote: %s\nconfig: %s\n", settings.remote.c_str(),
               settings.configFile.empty() ? "rclone's default" : settings.configFile.c_str());
  if (const std::string warning = UnencryptedWarning(UnencryptedConnections(store));
      !warning.empty()) {
    std::fprintf(io.out, "warning: %s\n", warning.c_str());
  }
  return kExitOk;
}

int Check(SettingsStore& store, const CommandIo& io) {
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  if (!settings.IsSet()) {
    PrintError(io, kSpec.name, "no off-site remote is set");
    return kExitFailed;
  }
  const RemoteOutcome outcome = CheckOffsite(settings);
  if (!outcome.ok()) {
    PrintError(io, kSpec.name, settings.remote + ": " + outcome.text);
    return kExitFailed;
  }
  std::fprintf(io.out, "%s works: a file was written, listed, read back and deleted\n",
               settings.remote.c_str());
  return kExitOk;
}

int Run(SettingsStore& store, const ParsedArguments& arguments, const CommandIo& io) {
  const std::vector<std::string>& words = arguments.positional;
  const std::string action = words.empty() ? "" : words[0];
  const bool set = action == "set";
  if (!set && (words.size() > 1 || arguments.Has("--config"))) {
    return UsageError(kSpec, io, "only set takes a remote and --config");
  }
  if (action == "show") {
    return Show(store, io);
  }
  if (action == "check") {
    return Check(store, io);
  }
  if (action == "clear") {
    SaveOffsiteSettings(store, {});
    return kExitOk;
  }
  if (!set) {
    return UsageError(kSpec, io, "name an action: set, show, clear or check");
  }
  if (words.size() < 2 || words[1].empty()) {
    return UsageError(kSpec, io, "set needs a remote, such as backups:vault/db");
  }
  const std::string config = arguments.Value("--config").value_or("");
  if (!SaveOffsiteSettings(store, {words[1], config})) {
    PrintError(io, kSpec.name, "rclone's configuration file does not exist: " + config);
    return kExitFailed;
  }
  return Show(store, io);
}

}  // namespace

int RunOffsiteCommand(int argc, char** argv, const CommandIo& io) {
  return RunStoreCommand(kSpec, argc, argv, io,
                         [&](SettingsStore& store, const ParsedArguments& arguments) {
                           return Run(store, arguments, io);
                         });
}

}  // namespace vaultwick
