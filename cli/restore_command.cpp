#include "cli/restore_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <span>
#include <variant>

#include "backup/restore_point_layout.h"
#include "cli/password_input.h"
#include "cli/stop_signals.h"
#include "restore/restore_database.h"
#include "shell/connections.h"
#include "shell/offsite_copy.h"
#include "shell/restore_points.h"

namespace vaultwick {

namespace {

constexpr std::string_view kCommand = "restore";

constexpr const char* kUsage =
    "usage: vaultwick restore --connection NAME [--archive FILE | --at TIME] --database DB\n"
    "                         [--from-offsite] [--replace] [--archive-password-stdin]\n"
    "                         [--store FILE] [--jobs N]\n"
    "       vaultwick restore --host HOST[:PORT] --login LOGIN --archive FILE --database DB\n"
    "                         [--replace] [--password-stdin] [--tls MODE] [--tls-ca FILE]\n"
    "                         [--archive-password-stdin] [--jobs N]\n"
    "Loads the SQL dump of a backup archive into the database DB on the connection's\n"
    "server (with --connection: its stored host and login, and by default the\n"
    "archive <target folder>/NAME.zip). --at TIME takes the newest of the\n"
    "connection's archives placed at or before TIME instead (local time,\n"
    "YYYY-MM-DD HH:MM, or YYYY-MM-DD for 00:00 of that day; see vaultwick\n"
    "restore-points NAME). --from-offsite takes that archive (the newest without\n"
    "--at) from the off-site remote (vaultwick offsite) instead of the target\n"
    "folder: fetched into a private temporary file, removed afterwards; this is\n"
    "how a machine without the archives gets its data back. The archive is\n"
    "read once, as it loads, and proved whole (length and CRC-32) at its end; DB\n"
    "changes only once all of it has loaded into a staging database beside it,\n"
    "so a damaged archive leaves DB as it was. A missing DB is created; one that\n"
    "holds tables, routines or events is refused unless --replace is given, which\n"
    "drops whatever of DB has a name the dump makes (and nothing else).\n"
    "--jobs N loads on N connections at once (1 to 32; default: one per core, at\n"
    "most 8), each table's rows on one of them.\n"
    "With --host, --password-stdin reads the password from the first line of standard\n"
    "input; else it is read from VAULTWICK_PASSWORD (empty when unset), which other\n"
    "programs of the same user and root can read (ps e): it is for scripts that\n"
    "accept that. --tls and --tls-ca ask for TLS as in `vaultwick connections set`\n"
    "(--connection uses the connection's).\n"
    "An encrypted archive is opened with the connection's archive password, or the\n"
    "first line of standard input with --archive-password-stdin.\n"
    "Exit status: 0 restored; 1 failed; 2 usage error; 128 + signal number when\n"
    "SIGINT, SIGTERM or SIGHUP stopped it.\n";

constexpr OptionSpec kOptions[] = {
    {"--connection", true},
    {"--host", true},
    {"--login", true},
    {"--archive", true},
    {"--database", true},
    {"--replace", false},
    kStoreOption,
    {"--password-stdin", false},
    kTlsOption,
    kTlsCaOption,
    {"--at", true},
    {"--archive-password-stdin", false},
    {"--jobs", true},
    {"--from-offsite", false},
};

double Megabytes(std::uint64_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

// On a terminal one line, rewritten in place at most five times a second;
// elsewhere one line per step and per table.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(const CommandIo& io) : io_(io), terminal_(isatty(fileno(io.err)) != 0) {}

  void Show(const RestoreProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_) {
      if (!started_ || progress.phase != lastPhase_ || progress.table != lastTable_) {
        if (progress.phase == RestoreProgress::Phase::Checking) {
          std::fprintf(io_.err, "Checking the archive\n");
        } else if (!progress.table.empty()) {
          std::fprintf(io_.err, "Loading %s\n", progress.table.c_str());
        }
      }
    } else if (now - shown_ >= std::chrono::milliseconds(200) || progress.phase != lastPhase_ ||
               (progress.phase == RestoreProgress::Phase::Loading &&
                progress.bytesDone == progress.bytesTotal)) {
      if (progress.phase != lastPhase_ && lastPhase_ == RestoreProgress::Phase::Checking &&
          started_) {
        std::fputc('\n', io_.err);
        loadStart_ = now;
      }
      if (progress.phase == RestoreProgress::Phase::Checking) {
        std::fprintf(io_.err, "\rChecking the archive: %.1f MB\x1b[K",
                     Megabytes(progress.bytesDone));
      } else {
        const double seconds = std::chrono::duration<double>(now - loadStart_).count();
        // An archive whose headers do not give the dump's size shows what is done alone.
        std::fprintf(io_.err, "\rLoading: %.1f", Megabytes(progress.bytesDone));
        if (progress.bytesTotal > 0) {
          std::fprintf(io_.err, " of %.1f", Megabytes(progress.bytesTotal));
        }
        std::fprintf(io_.err, " MB, %llu rows, %.0f rows/s, %u connections at work %s\x1b[K",
                     static_cast<unsigned long long>(progress.rows),
                     seconds > 0 ? static_cast<double>(progress.rows) / seconds : 0.0,
                     progress.connections, progress.table.c_str());
      }
      shown_ = now;
      dirty_ = true;
    }
    started_ = true;
    lastPhase_ = progress.phase;
    lastTable_ = progress.table;
  }

  void End() {
    if (terminal_ && dirty_) {
      std::fputc('\n', io_.err);
    }
  }

 private:
  const CommandIo& io_;
  bool terminal_;
  bool started_ = false;
  bool dirty_ = false;
  RestoreProgress::Phase lastPhase_ = RestoreProgress::Phase::Checking;
  std::string lastTable_;
  std::chrono::steady_clock::time_point shown_{};
  std::chrono::steady_clock::time_point loadStart_ = std::chrono::steady_clock::now();
};

constexpr CommandSpec kSpec{kCommand, kUsage, kOptions, 0};

// Takes the newest archive of the connection placed at or before `at` and
// says which; before its first one the restore is refused with that one's time.
int ChoosePointAt(SettingsStore& store, const StoredConnection& stored, const std::string& at,
                  WallTime moment, const CommandIo& io, RestoreRequest& request) {
  const SystemClock clock;
  const std::string& name = stored.profile.name;
  const std::vector<RestorePoint> points = ListRestorePoints(store, stored.saveTo, name);
  const RestorePoint* point = PointAtOrBefore(points, moment);
  if (points.empty()) {
    PrintError(io, kCommand, "no archive of " + name + " in " + stored.saveTo);
    return kExitFailed;
  }
  if (point == nullptr) {
    const ArchiveFile& first = points.back().file;
    PrintError(io, kCommand,
               "no archive of " + name + " at or before " + at + ": the first is from " +
                   FormatLocalTime(clock.ToLocalTime(first.time)) + " (" + first.path + ")");
    return kExitFailed;
  }
  request.archivePath = point->file.path;
  std::fprintf(io.out, "Restoring %s, placed %s\n", point->file.path.c_str(),
               FormatLocalTime(clock.ToLocalTime(point->file.time)).c_str());
  std::fflush(io.out);
  return kExitOk;
}

// Fetches the newest off-site copy of the connection placed at or before
// `at` (or the newest) into `fetched`, whose folder goes with it.
int FetchFromOffsite(SettingsStore& store, const StoredConnection& stored,
                     const std::optional<WallTime>& at, const CommandIo& io,
                     RestoreRequest& request, std::optional<FetchedFile>& fetched) {
  const SystemClock clock;
  const std::string& name = stored.profile.name;
  const OffsiteSettings settings = LoadOffsiteSettings(store);
  if (!settings.IsSet()) {
    PrintError(io, kCommand, "no off-site remote is set (vaultwick offsite set)");
    return kExitFailed;
  }
  RcloneRemote remote(settings.Rclone(), std::chrono::steady_clock::now() + kOffsiteTimeLimit,
                      request.stop);
  RemoteOutcome outcome;
  const std::vector<OffsitePoint> points = ListOffsitePoints(remote, name, outcome);
  if (!outcome.ok()) {
    PrintError(io, kCommand, settings.remote + ": " + outcome.text);
    return kExitFailed;
  }
  auto point = std::find_if(points.begin(), points.end(),
                            [&](const OffsitePoint& p) { return !at || p.time <= *at; });
  if (point == points.end()) {
    PrintError(io, kCommand,
               "no off-site copy of " + name + (at ? " at or before that time" : "") + " in " +
                   remote.RemotePath(name) +
                   (points.empty() ? ""
                                   : ": the first is from " +
                                         FormatLocalTime(clock.ToLocalTime(points.back().time))));
    return kExitFailed;
  }
  std::fprintf(io.out, "Fetching %s, placed %s\n", remote.RemotePath(name, point->file).c_str(),
               FormatLocalTime(clock.ToLocalTime(point->time)).c_str());
  std::fflush(io.out);
  fetched = FetchOffsitePoint(store, remote, settings, name, point->file);
  if (!fetched->outcome.ok()) {
    PrintError(io, kCommand, remote.RemotePath(name, point->file) + ": " + fetched->outcome.text);
    return kExitFailed;
  }
  request.archivePath = fetched->path;
  return kExitOk;
}

// Fills the request from the stored connection NAME. kExitOk, else the
// status to end with after saying why.
int FillFromStore(const ParsedArguments& arguments, const std::optional<WallTime>& at,
                  const CommandIo& io, RestoreRequest& request,
                  std::optional<FetchedFile>& fetched) {
  const int status = WithStore(kSpec, arguments, io, [&](SettingsStore& store) {
    const std::string name = *arguments.Value("--connection");
    const std::optional<StoredConnection> stored = ReadStoredConnection(store, name);
    if (!stored) {
      PrintError(io, kCommand, "no connection named '" + name + "' in " + store.path());
      return kExitFailed;
    }
    // The server and login are the connection's; the database is the one asked for.
    const std::string database = request.server.database;
    request.server = stored->profile.server;
    request.server.database = database;
    // Also when encryption is off now: the archive may be an older one.
    if (request.archivePassword.empty()) {
      request.archivePassword = stored->archivePassword;
    }
    if (arguments.Has("--from-offsite")) {
      return FetchFromOffsite(store, *stored, at, io, request, fetched);
    }
    if (at) {
      return ChoosePointAt(store, *stored, *arguments.Value("--at"), *at, io, request);
    }
    if (request.archivePath.empty()) {
      request.archivePath = CurrentArchivePath(stored->saveTo, stored->profile.name);
    }
    return kExitOk;
  });
  return status;
}

}  // namespace

int RunRestoreCommand(int argc, char** argv, const CommandIo& io) {
  std::variant<ParsedArguments, int> parsed = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const ParsedArguments* arguments = &std::get<ParsedArguments>(parsed);
  const bool stored = arguments->Has("--connection");
  if (stored && (arguments->Has("--host") || arguments->Has("--login") ||
                 arguments->Has(kTlsOption.name) || arguments->Has(kTlsCaOption.name))) {
    return UsageError(kSpec, io, "--connection takes the host, login and TLS from the store");
  }
  if (!stored && (arguments->Has("--store") || arguments->Has("--at"))) {
    return UsageError(kSpec, io, "--store and --at go with --connection");
  }
  if (arguments->Has("--at") && arguments->Has("--archive")) {
    return UsageError(kSpec, io, "--at and --archive exclude each other");
  }
  if (arguments->Has("--from-offsite") && (!stored || arguments->Has("--archive"))) {
    return UsageError(kSpec, io, "--from-offsite goes with --connection, without --archive");
  }
  if (stored && arguments->Has("--password-stdin")) {
    return UsageError(kSpec, io, "--password-stdin goes with --host");
  }
  if (arguments->Has("--password-stdin") && arguments->Has("--archive-password-stdin")) {
    return UsageError(kSpec, io,
                      "--password-stdin and --archive-password-stdin both read standard input; "
                      "give the login's password in VAULTWICK_PASSWORD");
  }
  static constexpr const char* kNeededStored[] = {"--database"};
  static constexpr const char* kNeeded[] = {"--host", "--login", "--archive", "--database"};
  for (const char* needed : stored ? std::span<const char* const>(kNeededStored)
                                   : std::span<const char* const>(kNeeded)) {
    if (!arguments->Has(needed) || arguments->Value(needed)->empty()) {
      return UsageError(kSpec, io, std::string("missing ") + needed);
    }
  }

  std::optional<WallTime> at;
  if (std::optional<std::string> text = arguments->Value("--at")) {
    at = ParseRestoreAt(*text, SystemClock());
    if (!at) {
      return UsageError(
          kSpec, io,
          "--at needs a local time as YYYY-MM-DD HH:MM or YYYY-MM-DD, not '" + *text + "'");
    }
  }

  RestoreRequest request;
  if (std::optional<std::string> jobs = arguments->Value("--jobs")) {
    const std::optional<int> number = ParseNumber(*jobs, 1, 32);
    if (!number) {
      return UsageError(kSpec, io, "--jobs takes a number from 1 to 32");
    }
    request.jobs = static_cast<unsigned>(*number);
  }
  request.archivePath = arguments->Value("--archive").value_or("");
  request.server.database = *arguments->Value("--database");
  request.replace = arguments->Has("--replace");
  if (arguments->Has("--archive-password-stdin")) {
    request.archivePassword = ReadPasswordLine(io, "Archive password: ");
  }
  // The fetched archive's private folder goes on every way out, a stop
  // signal's included: the signals only ask the fetch and the restore to stop.
  std::optional<FetchedFile> fetched;
  std::optional<StopSignals> signals;
  if (stored) {
    signals.emplace(request.stop);
    if (const int status = FillFromStore(*arguments, at, io, request, fetched); status != kExitOk) {
      const int signal = signals->Received();
      return signal != 0 ? kExitSignalBase + signal : status;
    }
  } else {
    request.server.host = *arguments->Value("--host");
    request.server.login = *arguments->Value("--login");
    if (arguments->Has("--password-stdin")) {
      request.server.password = ReadPasswordLine(io);
    } else {
      const char* password = std::getenv("VAULTWICK_PASSWORD");
      request.server.password = password != nullptr ? password : "";
    }
    std::string problem;
    const std::optional<TlsSettings> tls = TlsFromArguments(*arguments, {}, &problem);
    if (!tls) {
      return UsageError(kSpec, io, problem);
    }
    request.server.tls = *tls;
  }

  ProgressPrinter printer(io);
  const auto started = std::chrono::steady_clock::now();
  RestoreOutcome outcome;
  int signal = 0;
  if (!signals) {
    signals.emplace(request.stop);
  }
  outcome =
      RestoreDatabase(request, [&](const RestoreProgress& progress) { printer.Show(progress); });
  signal = signals->Received();
  signals.reset();
  printer.End();
  switch (outcome.result) {
    case RestoreResult::Restored: {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::fprintf(io.out, "Restored %llu rows (%.1f MB of SQL) into %s in %.1f s\n",
                   static_cast<unsigned long long>(outcome.rows), Megabytes(outcome.bytes),
                   request.server.database.c_str(), seconds);
      return kExitOk;
    }
    case RestoreResult::StatementFailed:
      PrintError(io, kCommand,
                 "line " + std::to_string(outcome.line) + ": " + outcome.message + "\n  " +
                     outcome.statement);
      return kExitFailed;
    case RestoreResult::Stopped:
      PrintError(io, kCommand, outcome.message);
      return signal != 0 ? kExitSignalBase + signal : kExitFailed;
    default:
      PrintError(io, kCommand, outcome.message);
      return kExitFailed;
  }
}

}  // namespace vaultwick
