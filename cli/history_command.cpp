#include "cli/history_command.h"

#include <algorithm>
#include <array>

#include "shell/history.h"

namespace vaultwick {
namespace {

constexpr std::string_view kCommand = "history";
constexpr int kDefaultLimit = 20;

constexpr const char* kUsage =
    "usage: vaultwick history [NAME] [--limit N] [--store FILE]\n"
    "Lists the newest backups first (20 unless --limit says otherwise), of the\n"
    "connection NAME or of all: when each started and what started it, its\n"
    "result, how long it took, the archive's size, the rows dumped, and its end\n"
    "text with the cause behind it.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--limit", true}};

std::string Duration(std::int64_t milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
  return text;
}

constexpr int kColumns = 8;
using Line = std::array<std::string, kColumns>;

Line LineOf(const HistoryRow& row) {
  std::string end = row.endText;
  if (!row.cause.empty()) {
    end += " (" + row.cause + ")";
  }
  return {FormatLocalTime(row.startedAt),
          row.connection,
          row.startedBy,
          row.result,
          Duration(row.durationMs),
          std::to_string(row.archiveSize),
          std::to_string(row.rows),
          end};
}

}  // namespace

int RunHistoryCommand(int argc, char** argv, const CommandIo& io) {
  std::string problem;
  std::optional<ParsedArguments> arguments = ParseArguments(argc, argv, kOptions, &problem);
  std::optional<int> limit = kDefaultLimit;
  if (arguments && arguments->Has("--limit")) {
    limit = ParseNumber(*arguments->Value("--limit"), 1, 1000000);
    problem = "--limit needs a number from 1 up";
  }
  if (!arguments || !limit || arguments->positional.size() > 1) {
    PrintError(io, kCommand, arguments && limit ? "too many arguments" : problem);
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
  std::vector<HistoryRow> rows;
  try {
    rows =
        ReadHistory(*store, arguments->positional.empty() ? "" : arguments->positional[0], *limit);
  } catch (const SettingsStoreError& error) {
    PrintError(io, kCommand, error.what());
    return kExitFailed;
  }
  std::vector<Line> lines = {
      {"STARTED", "CONNECTION", "BY", "RESULT", "TOOK", "BYTES", "ROWS", "END"}};
  for (const HistoryRow& row : rows) {
    lines.push_back(LineOf(row));
  }
  std::array<std::size_t, kColumns> widths{};
  for (const Line& line : lines) {
    for (int c = 0; c < kColumns; ++c) {
      widths[c] = std::max(widths[c], line[c].size());
    }
  }
  for (const Line& line : lines) {
    for (int c = 0; c + 1 < kColumns; ++c) {
      std::fprintf(io.out, "%-*s  ", static_cast<int>(widths[c]), line[c].c_str());
    }
    std::fprintf(io.out, "%s\n", line[kColumns - 1].c_str());
  }
  return kExitOk;
}

}  // namespace vaultwick
