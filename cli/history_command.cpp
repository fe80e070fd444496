#include "cli/history_command.h"

#include <algorithm>

#include "shell/history.h"

namespace vaultwick {
namespace {

constexpr int kDefaultLimit = 20;

constexpr const char* kUsage =
    "usage: vaultwick history [NAME] [--limit N] [--store FILE]\n"
    "Lists the newest backups first (20 unless --limit says otherwise), of the\n"
    "connection NAME or of all: when each started and what started it, its\n"
    "result, how long it took, the archive's size, the rows dumped, whether its\n"
    "archive was read back and checked before it was placed, how its test restore\n"
    "went (verified, differs or failed; - when none ran), and its end text with\n"
    "the cause behind it, where a test restore differs or why it failed, and the\n"
    "restore points the run removed.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--limit", true}};
constexpr CommandSpec kSpec{"history", kUsage, kOptions, 1};

std::string EndText(const HistoryRow& row) {
  std::string text = EndTextWithCause(row.endText, row.cause);
  if (!row.verifyDetail.empty()) {
    text += "; " + TestRestoreText(row.verified, row.verifyDetail);
  }
  if (!row.pruned.empty()) {
    std::string names = row.pruned;
    std::replace(names.begin(), names.end(), '\n', ' ');
    text += "; restore points removed: " + names;
  }
  return text;
}

// Times in the process's time zone.
std::vector<std::string> LineOf(const HistoryRow& row) {
  return {FormatLocalTime(SystemClock().ToLocalTime(WallTime(std::chrono::seconds(row.startedAt)))),
          row.connection,
          row.startedBy,
          row.result,
          FormatSeconds(row.durationMs),
          std::to_string(row.archiveSize),
          std::to_string(row.rows),
          YesNoText(row.archiveChecked),
          OrDash(row.verified),
          EndText(row)};
}

void PrintRows(const std::vector<HistoryRow>& rows, std::FILE* out) {
  std::vector<std::vector<std::string>> lines = {{"STARTED", "CONNECTION", "BY", "RESULT", "TOOK",
                                                  "BYTES", "ROWS", "CHECKED", "VERIFIED", "END"}};
  for (const HistoryRow& row : rows) {
    lines.push_back(LineOf(row));
  }
  PrintColumns(lines, out);
}

}  // namespace

int RunHistoryCommand(int argc, char** argv, const CommandIo& io) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  const std::optional<int> limit = arguments.Has("--limit")
                                       ? ParseNumber(*arguments.Value("--limit"), 1, 1000000)
                                       : std::optional<int>(kDefaultLimit);
  if (!limit) {
    return UsageError(kSpec, io, "--limit needs a number from 1 up");
  }
  const std::string name = arguments.positional.empty() ? "" : arguments.positional[0];
  return WithStore(kSpec, arguments, io, [&](SettingsStore& store) {
    PrintRows(ReadHistory(store, name, *limit), io.out);
    return kExitOk;
  });
}

}  // namespace vaultwick
