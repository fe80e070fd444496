#include "cli/restore_points_command.h"

#include "shell/connections.h"
#include "shell/offsite_copy.h"
#include "shell/restore_points.h"
#include "shell/target_folder.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick restore-points NAME [--store FILE]\n"
    "Lists the archives kept of the connection NAME, newest first: when each was\n"
    "placed in the target folder (local time), its size in bytes, the rows its\n"
    "dump holds, whether it was read back and checked before it was placed and how\n"
    "its test restore went (from the history; - where it does not know), whether\n"
    "a proven copy of it is on the off-site remote (- when none is set; see\n"
    "vaultwick offsite), and its file. The newest is <target>/NAME.zip; the others are its restore "
    "points in\n"
    "<target>/restore-points/NAME/, kept by the connection's keep policy\n"
    "(vaultwick connections set NAME --keep-daily ...). vaultwick restore\n"
    "--connection NAME --at TIME restores one of them.\n";

constexpr OptionSpec kOptions[] = {kStoreOption};
constexpr CommandSpec kSpec{"restore-points", kUsage, kOptions, 1};

std::vector<std::string> LineOf(const RestorePoint& point, const std::string& offsite) {
  const SystemClock clock;
  const std::optional<HistoryRow>& run = point.run;
  return {FormatLocalTime(clock.ToLocalTime(point.file.time)),
          std::to_string(point.file.size),
          run ? std::to_string(run->rows) : "-",
          run ? YesNoText(run->archiveChecked) : "-",
          run ? OrDash(run->verified) : "-",
          offsite,
          point.file.path};
}

}  // namespace

int RunRestorePointsCommand(int argc, char** argv, const CommandIo& io) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  if (arguments.positional.size() != 1) {
    return UsageError(kSpec, io, "needs one NAME");
  }
  return WithStore(kSpec, arguments, io, [&](SettingsStore& store) {
    const std::string& asked = arguments.positional[0];
    const std::optional<ConnectionProfile> profile = LoadConnection(store, asked);
    if (!profile) {
      PrintError(io, kSpec.name, "no connection named '" + asked + "'");
      return kExitFailed;
    }
    std::vector<std::vector<std::string>> lines = {
        {"PLACED", "BYTES", "ROWS", "CHECKED", "VERIFIED", "OFFSITE", "FILE"}};
    const std::vector<RestorePoint> points =
        ListRestorePoints(store, LoadTargetFolder(store), profile->name);
    const std::vector<std::string> offsite = OffsiteStates(store, profile->name, points);
    for (std::size_t i = 0; i < points.size(); ++i) {
      lines.push_back(LineOf(points[i], offsite[i]));
    }
    PrintColumns(lines, io.out);
    return kExitOk;
  });
}

}  // namespace vaultwick
