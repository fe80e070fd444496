#include "cli/alerts_command.h"

#include "shell/alert.h"
#include "shell/alert_settings.h"
#include "shell/metrics_file.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick alerts set [--webhook URL] [--webhook-header 'Name: value']...\n"
    "                            [--command CMD] [--when failures|always]\n"
    "                            [--time-limit SECONDS] [--metrics-file PATH] [--store FILE]\n"
    "       vaultwick alerts show [--store FILE]\n"
    "       vaultwick alerts test [--store FILE]\n"
    "       vaultwick alerts clear [--store FILE]\n"
    "After every run of a stored connection (scheduled, from the desktop or vaultwick\n"
    "backup --connection) the program that ran it tells the alert channels, and the\n"
    "scheduler tells them once a day about a connection whose last good backup is\n"
    "older than twice its period and an hour.\n"
    "--webhook URL: an HTTP(S) POST of JSON (event, connection, host, result,\n"
    "end_text, cause, archive, size_bytes, rows, duration_seconds, checked, verified,\n"
    "offsite, time, last_good, and text: one readable line); the server's\n"
    "certificate is verified. --webhook-header adds a header line (a token, say);\n"
    "given again it adds another, and the headers given replace those stored.\n"
    "--command CMD: /bin/sh -c CMD, with the same facts in VAULTWICK_EVENT,\n"
    "VAULTWICK_CONNECTION, ... VAULTWICK_TEXT; values never pass through the shell's\n"
    "parsing unless CMD asks for it (\"$VAULTWICK_TEXT\" in quotes is one word).\n"
    "An empty URL or command removes that channel.\n"
    "--when failures (the default): failed runs, and the first good run after a\n"
    "failed one (a recovery); always: every run.\n"
    "--time-limit SECONDS (default 10): how long one alert may take, two retries of\n"
    "the webhook included; an alert that fails is written to the log and to the\n"
    "run's history and never fails the backup.\n"
    "--metrics-file PATH: after every run, the metrics of every connection in the\n"
    "text format of the node exporter's textfile collector (vaultwick_* series:\n"
    "last run, last success, archive size, rows, duration, checked, verified,\n"
    "period, stale), readable by all. PATH's folder must exist; the textfile\n"
    "collector's folder is the usual choice.\n"
    "show prints what is set; test sends a test alert and says whether each\n"
    "channel took it (exit 1 when one did not); clear sets nothing.\n";

constexpr OptionSpec kOptions[] = {kStoreOption,          {"--metrics-file", true},
                                   {"--webhook", true},   {"--webhook-header", true},
                                   {"--command", true},   {"--when", true},
                                   {"--time-limit", true}};
constexpr CommandSpec kSpec{"alerts", kUsage, kOptions, 1};

void Show(SettingsStore& store, const CommandIo& io) {
  const AlertSettings settings = LoadAlertSettings(store);
  auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
  std::fprintf(io.out, "webhook: %s\n", orDash(settings.webhook).c_str());
  for (const std::string& header : settings.webhookHeaders) {
    std::fprintf(io.out, "webhook header: %s\n", header.c_str());
  }
  std::fprintf(io.out, "command: %s\n", orDash(settings.command).c_str());
  std::fprintf(io.out, "when: %s\n", AlertWhenName(settings.when));
  std::fprintf(io.out, "time limit: %d s\n", settings.timeLimitSeconds);
  std::fprintf(io.out, "metrics file: %s\n", orDash(LoadMetricsFile(store)).c_str());
}

int Test(SettingsStore& store, const CommandIo& io) {
  const AlertSettings settings = LoadAlertSettings(store);
  if (!settings.AnyChannel()) {
    PrintError(io, kSpec.name, "no alert channel is set (alerts set --webhook or --command)");
    return kExitFailed;
  }
  Alert alert;
  alert.host = ThisHostName();
  alert.time = ToUnixSeconds(SystemClock().Now());
  const AlertDelivery delivery = SendAlert(settings, alert);
  bool allTook = true;
  for (const auto& [channel, outcome] :
       {std::pair{"webhook", &delivery.webhook}, std::pair{"command", &delivery.command}}) {
    if (*outcome) {
      allTook = allTook && (*outcome)->empty();
      std::fprintf(io.out, "%s: %s\n", channel,
                   (*outcome)->empty() ? "took the test alert" : (*outcome)->c_str());
    }
  }
  return allTook ? kExitOk : kExitFailed;
}

// The settings with what the arguments change; empty problem when usable.
std::string Change(AlertSettings& settings, const ParsedArguments& arguments) {
  if (std::optional<std::string> url = arguments.Value("--webhook")) {
    if (!url->empty()) {
      if (std::string problem = WebhookUrlProblem(*url); !problem.empty()) {
        return problem;
      }
    }
    settings.webhook = *url;
  }
  if (const auto headers = arguments.every.find("--webhook-header");
      headers != arguments.every.end()) {
    settings.webhookHeaders.clear();
    for (const std::string& header : headers->second) {
      if (header.empty()) {
        continue;  // --webhook-header '' removes them all
      }
      if (std::string problem = WebhookHeaderProblem(header); !problem.empty()) {
        return problem + ": " + header;
      }
      settings.webhookHeaders.push_back(header);
    }
  }
  if (std::optional<std::string> command = arguments.Value("--command")) {
    settings.command = *command;
  }
  if (std::optional<std::string> when = arguments.Value("--when")) {
    const std::optional<AlertWhen> parsed = ParseAlertWhen(*when);
    if (!parsed) {
      return "--when takes failures or always";
    }
    settings.when = *parsed;
  }
  if (std::optional<std::string> limit = arguments.Value("--time-limit")) {
    const std::optional<int> seconds = ParseNumber(*limit, 1, AlertSettings::kMaxTimeLimitSeconds);
    if (!seconds) {
      return "--time-limit takes whole seconds from 1 to " +
             std::to_string(AlertSettings::kMaxTimeLimitSeconds);
    }
    settings.timeLimitSeconds = *seconds;
  }
  return "";
}

int Run(SettingsStore& store, const ParsedArguments& arguments, const CommandIo& io) {
  const std::string action = arguments.positional.empty() ? "" : arguments.positional[0];
  if (action == "show") {
    Show(store, io);
    return kExitOk;
  }
  if (action == "test") {
    return Test(store, io);
  }
  if (action == "clear") {
    SaveAlertSettings(store, AlertSettings{});
    SaveMetricsFile(store, "");
    return kExitOk;
  }
  if (action != "set") {
    return UsageError(kSpec, io, "name an action: set, show, test or clear");
  }
  if (arguments.options.size() == (arguments.Has("--store") ? 1u : 0u)) {
    return UsageError(kSpec, io, "set needs what to set");
  }
  AlertSettings settings = LoadAlertSettings(store);
  if (std::string problem = Change(settings, arguments); !problem.empty()) {
    return UsageError(kSpec, io, problem);
  }
  bool kept = true;
  store.WriteTransaction([&] {
    SaveAlertSettings(store, settings);
    if (std::optional<std::string> path = arguments.Value("--metrics-file")) {
      kept = SaveMetricsFile(store, *path).has_value();
    }
  });
  if (!kept) {
    PrintError(io, kSpec.name,
               "the metrics file's folder does not exist: " + *arguments.Value("--metrics-file"));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int RunAlertsCommand(int argc, char** argv, const CommandIo& io) {
  return RunStoreCommand(kSpec, argc, argv, io,
                         [&](SettingsStore& store, const ParsedArguments& arguments) {
                           return Run(store, arguments, io);
                         });
}

}  // namespace vaultwick
