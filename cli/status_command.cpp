#include "cli/status_command.h"

#include <algorithm>
#include <chrono>

#include "platform/json_text.h"
#include "shell/connection_status.h"
#include "shell/history.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick status [--json] [--store FILE]\n"
    "One line per stored connection: when its last good backup ended and how long\n"
    "ago, the result of its last run, when it is next due, how many archives the\n"
    "target folder keeps of it (NAME.zip and its restore points), whether the last\n"
    "run's archive was copied off-site (copied, failed, or - without a remote), and\n"
    "its state: stale when no good backup is newer than twice its period and an\n"
    "hour (or none was ever made), failing when its last run did not place a whole\n"
    "archive, its test restore did not verify or its off-site copy failed, else ok.\n"
    "A good backup placed its whole archive and, when a test restore ran or a\n"
    "remote is set, was verified by it and copied off-site.\n"
    "--json writes the same as a JSON array (times in seconds since 1970, null\n"
    "where there is none) for scripts.\n"
    "Exit status: 0 when no connection is stale or failing; 1 when one is, or the\n"
    "store fails; 2 usage error.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--json", false}};
constexpr CommandSpec kSpec{"status", kUsage, kOptions, 0};

// "25 min", "19 h", "3 d": coarse enough to read at a glance.
std::string FormatAge(std::chrono::seconds age) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(age).count();
  if (minutes < 60) {
    return std::to_string(std::max<std::int64_t>(minutes, 0)) + " min";
  }
  if (minutes < 48 * 60) {
    return std::to_string(minutes / 60) + " h";
  }
  return std::to_string(minutes / (24 * 60)) + " d";
}

std::string StateText(const ConnectionStatus& status) {
  if (status.stale && status.failing) {
    return "stale, failing";
  }
  return status.stale ? "stale" : status.failing ? "failing" : "ok";
}

std::string LastRunEnd(const ConnectionStatus& status) {
  if (!status.lastRun || !status.failing) {
    return "";
  }
  std::string text = EndTextWithCause(status.lastRun->endText, status.lastRun->cause);
  const std::string test = TestRestoreText(status.lastRun->verified, status.lastRun->verifyDetail);
  if (!test.empty() && !IsGoodRun(*status.lastRun)) {
    text += "; " + test;
  }
  if (status.offsite == kOffsiteFailed) {
    text += "; " + NotCopiedOffsiteText(OffsiteFailureLine(*status.lastRun));
  }
  return text;
}

void PrintTable(const std::vector<ConnectionStatus>& statuses, const Clock& clock, std::FILE* out) {
  std::vector<std::vector<std::string>> lines = {{"CONNECTION", "LAST GOOD", "AGE", "LAST RUN",
                                                  "NEXT DUE", "KEPT", "OFFSITE", "STATE",
                                                  "LAST RUN ENDED"}};
  const WallTime now = clock.Now();
  for (const ConnectionStatus& status : statuses) {
    lines.push_back(
        {status.name,
         status.lastGood ? FormatLocalTime(clock.ToLocalTime(*status.lastGood)) : "never",
         status.lastGood
             ? FormatAge(std::chrono::duration_cast<std::chrono::seconds>(now - *status.lastGood))
             : "-",
         status.lastRun ? status.lastRun->result : "-",
         status.nextDue ? FormatLocalTime(clock.ToLocalTime(*status.nextDue)) : "never",
         std::to_string(status.archivesKept), OrDash(status.offsite), StateText(status),
         LastRunEnd(status)});
  }
  PrintColumns(lines, out);
}

std::string JsonTime(const std::optional<WallTime>& moment) {
  return moment ? std::to_string(ToUnixSeconds(*moment)) : "null";
}

void PrintJson(const std::vector<ConnectionStatus>& statuses, const Clock& clock, std::FILE* out) {
  const WallTime now = clock.Now();
  std::string json = "[";
  for (const ConnectionStatus& status : statuses) {
    if (json.size() > 1) {
      json += ",";
    }
    json += "\n  {\"connection\": " + JsonString(status.name);
    json += ", \"lastGood\": " + JsonTime(status.lastGood);
    json += ", \"ageSeconds\": " +
            (status.lastGood ? std::to_string(ToUnixSeconds(now) - ToUnixSeconds(*status.lastGood))
                             : std::string("null"));
    json += ", \"lastResult\": " +
            (status.lastRun ? JsonString(status.lastRun->result) : std::string("null"));
    json += ", \"lastRunStarted\": " +
            (status.lastRun ? std::to_string(status.lastRun->startedAt) : std::string("null"));
    json += ", \"lastRunEnded\": " + JsonString(LastRunEnd(status));
    json += ", \"nextDue\": " + JsonTime(status.nextDue);
    json += ", \"archivesKept\": " + std::to_string(status.archivesKept);
    json += ", \"offsite\": " + (status.offsite.empty() ? "null" : JsonString(status.offsite));
    json += std::string(", \"stale\": ") + (status.stale ? "true" : "false");
    json += std::string(", \"failing\": ") + (status.failing ? "true" : "false") + "}";
  }
  json += statuses.empty() ? "]" : "\n]";
  std::fprintf(out, "%s\n", json.c_str());
}

}  // namespace

int RunStatusCommand(int argc, char** argv, const CommandIo& io, const Clock& clock) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  return WithStore(kSpec, arguments, io, [&](SettingsStore& store) {
    const std::vector<ConnectionStatus> statuses = ReadConnectionStatus(store, clock);
    if (arguments.Has("--json")) {
      PrintJson(statuses, clock, io.out);
    } else {
      PrintTable(statuses, clock, io.out);
    }
    const bool allWell = std::none_of(statuses.begin(), statuses.end(), [](const auto& status) {
      return status.stale || status.failing;
    });
    return allWell ? kExitOk : kExitFailed;
  });
}

}  // namespace vaultwick
