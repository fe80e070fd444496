#include "cli/alerts_command.h"

#include "shell/metrics_file.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick alerts set [--metrics-file PATH] [--store FILE]\n"
    "       vaultwick alerts show [--store FILE]\n"
    "       vaultwick alerts clear [--store FILE]\n"
    "--metrics-file PATH: after every run of a stored connection (scheduled, from the\n"
    "desktop or vaultwick backup --connection), the program that ran it writes the\n"
    "metrics of every connection to PATH in the text format of the node exporter's\n"
    "textfile collector (vaultwick_* series: last run, last success, archive size,\n"
    "rows, duration, checked, verified, period, stale), readable by all. PATH's\n"
    "folder must exist; the textfile collector's folder is the usual choice.\n"
    "show prints what is set; clear sets nothing.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--metrics-file", true}};
constexpr CommandSpec kSpec{"alerts", kUsage, kOptions, 1};

int Run(SettingsStore& store, const ParsedArguments& arguments, const CommandIo& io) {
  const std::string action = arguments.positional.empty() ? "" : arguments.positional[0];
  if (action == "show") {
    const std::string path = LoadMetricsFile(store);
    std::fprintf(io.out, "metrics file: %s\n", path.empty() ? "-" : path.c_str());
    return kExitOk;
  }
  std::string path;
  if (action == "set") {
    if (!arguments.Has("--metrics-file")) {
      return UsageError(kSpec, io, "set needs --metrics-file PATH");
    }
    path = *arguments.Value("--metrics-file");
  } else if (action != "clear") {
    return UsageError(kSpec, io, "name an action: set, show or clear");
  }
  const std::optional<std::string> kept = SaveMetricsFile(store, path);
  if (!kept) {
    PrintError(io, kSpec.name, "the metrics file's folder does not exist: " + path);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int RunAlertsCommand(int argc, char** argv, const CommandIo& io) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  return WithStore(kSpec, arguments, io,
                   [&](SettingsStore& store) { return Run(store, arguments, io); });
}

}  // namespace vaultwick
