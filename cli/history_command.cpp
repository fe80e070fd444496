#include "cli/history_command.h"

#include <algorithm>
#include <array>

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
    "the cause behind it, and where a test restore differs or why it failed.\n";

constexpr OptionSpec kOptions[] = {kStoreOption, {"--limit", true}};
constexpr CommandSpec kSpec{"history", kUsage, kOptions, 1};

constexpr int kColumns = 10;
using Line = std::array<std::string, kColumns>;

// "-" where a row says nothing: older rows do not know whether their archive
// was checked, and a run without a test restore has no verdict.
std::string CheckedText(const std::optional<bool>& checked) {
  return !checked ? "-" : *checked ? "yes" : "no";
}

std::string EndText(const HistoryRow& row) {
  std::string text = EndTextWithCause(row.endText, row.cause);
  if (!row.verifyDetail.empty()) {
    text += "; " + TestRestoreText(row.verified, row.verifyDetail);
  }
  return text;
}

// Times in the process's time zone.
Line LineOf(const HistoryRow& row) {
  return {FormatLocalTime(SystemClock().ToLocalTime(WallTime(std::chrono::seconds(row.startedAt)))),
          row.connection,
          row.startedBy,
          row.result,
          FormatSeconds(row.durationMs),
          std::to_string(row.archiveSize),
          std::to_string(row.rows),
          CheckedText(row.archiveChecked),
          row.verified.empty() ? "-" : row.verified,
          EndText(row)};
}

// One line per row under a header, in columns as wide as their widest entry.
void PrintRows(const std::vector<HistoryRow>& rows, std::FILE* out) {
  std::vector<Line> lines = {{"STARTED", "CONNECTION", "BY", "RESULT", "TOOK", "BYTES", "ROWS",
                              "CHECKED", "VERIFIED", "END"}};
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
      std::fprintf(out, "%-*s  ", static_cast<int>(widths[c]), line[c].c_str());
    }
    std::fprintf(out, "%s\n", line[kColumns - 1].c_str());
  }
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
