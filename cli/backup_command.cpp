#include "cli/backup_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "backup/run_backup_job.h"
#include "cli/backup_connection.h"
#include "cli/command_support.h"
#include "cli/password_input.h"
#include "cli/stop_signals.h"
#include "platform/clock.h"
#include "shell/history.h"
#include "shell/job_runner.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick backup --name NAME --host HOST[:PORT] --login LOGIN --database DB "
    "--save-to DIR\n"
    "                        [--password-stdin]\n"
    "       vaultwick backup --connection NAME [--store FILE]\n"
    "--password-stdin reads the password from the first line of standard input; else it\n"
    "is read from the environment variable VAULTWICK_PASSWORD (empty when unset), which\n"
    "other programs of the same user and root can read (ps e): it is for scripts that\n"
    "accept that.\n"
    "HOST may be host, host:port or [IPv6-address]:port; the port defaults to 3306.\n"
    "With a port the connection is made by TCP, also to localhost.\n"
    "Exit status: 0 archive placed; 3 archive placed, but not all of the database could be read;\n"
    "4 archive placed, but its test restore (vaultwick connections set --verify-restore)\n"
    "failed or found it different;\n"
    "1 failed, the older archive stays; 2 usage error; 128 + signal number when SIGINT,\n"
    "SIGTERM or SIGHUP stopped it (nothing placed, no temporary files left);\n"
    "5 archive placed, but its off-site copy (vaultwick offsite) failed: it is tried again\n"
    "at the next run;\n"
    "6 not started: a backup of the connection is already running (with --connection,\n"
    "in this or another program).\n"
    "With --connection, the stored connection NAME and the stored target folder give\n"
    "every value, password included, and the outcome goes into the history (see\n"
    "vaultwick connections, target and history).\n";

constexpr OptionSpec kOptions[] = {
    {"--name", true},     {"--host", true}, {"--login", true},      {"--database", true},
    {"--save-to", true},  kStoreOption,     {"--connection", true}, {"--password-stdin", false},
    {"--password", true},  // only to say that it is never taken
};
constexpr const char* kNeeded[] = {"--name", "--host", "--login", "--database", "--save-to"};
constexpr CommandSpec kSpec{"backup", kUsage, kOptions, 0};

// Each line goes out whole, so texts of the job never interleave mid-line.
class StatusLines : public StatusTextPort {
 public:
  explicit StatusLines(std::FILE* out) : out_(out) {}
  void SetStatusText(const std::string& text) override { std::fprintf(out_, "%s\n", text.c_str()); }

 private:
  std::FILE* out_;
};

class ErrorLines : public MessageBoxPort {
 public:
  explicit ErrorLines(std::FILE* out) : out_(out) {}
  void ShowError(const std::string& text) override {
    std::fprintf(out_, "error: %s\n", text.c_str());
  }

 private:
  std::FILE* out_;
};

// Exit statuses besides those every command has.
constexpr int kExitPlacedWithErrors = 3;
constexpr int kExitPlacedNotVerified = 4;
constexpr int kExitPlacedNotOffsite = 5;
constexpr int kExitAlreadyRunning = 6;

int ExitStatus(const BackupOutcome& outcome, int signal) {
  if (outcome.verifyRestore &&
      outcome.verifyRestore->result != VerifyRestoreOutcome::Result::Verified) {
    return kExitPlacedNotVerified;
  }
  switch (outcome.result) {
    case BackupResult::Complete:
      return kExitOk;
    case BackupResult::CompleteWithErrors:
      return kExitPlacedWithErrors;
    case BackupResult::Stopped:
      return signal != 0 ? kExitSignalBase + signal : kExitFailed;
    default:
      return kExitFailed;
  }
}

}  // namespace

int RunBackupCommand(int argc, char** argv, const CommandIo& io) {
  std::variant<ParsedArguments, int> started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  if (arguments.Has("--password")) {
    return UsageError(kSpec, io,
                      "the password is never taken from the command line; use --password-stdin");
  }
  std::optional<StoredBackup> stored;
  if (arguments.Has("--connection")) {
    if (arguments.options.size() != (arguments.Has("--store") ? 2u : 1u)) {
      return UsageError(kSpec, io, "--connection takes no other option but --store");
    }
    stored = PrepareStoredBackup(*arguments.Value("--connection"),
                                 arguments.Value("--store").value_or(""), io);
    if (!stored) {
      return kExitFailed;
    }
  }
  for (const char* name : kNeeded) {
    if (!stored && !arguments.Has(name)) {
      return UsageError(kSpec, io, std::string("missing ") + name);
    }
  }

  auto request = stored ? std::move(stored->request) : std::make_unique<BackupRequest>();
  if (!stored) {
    request->job.name = *arguments.Value("--name");
    request->job.server.host = *arguments.Value("--host");
    request->job.server.login = *arguments.Value("--login");
    if (arguments.Has("--password-stdin")) {
      request->job.server.password = ReadPasswordLine(io);
    } else {
      const char* password = std::getenv("VAULTWICK_PASSWORD");
      request->job.server.password = password != nullptr ? password : "";
    }
    request->job.server.database = *arguments.Value("--database");
    request->job.saveTo = *arguments.Value("--save-to");
  }
  request->statusEcho = std::make_shared<StatusLines>(io.err);
  request->messageBox = std::make_shared<ErrorLines>(io.err);

  // Blocked before the job's thread starts, so that it inherits the mask:
  // a signal asks the job to stop, and the job ends at its next step.
  StopSignals signals(request->stop);
  // Given by the job's thread as its last act but one; the thread ends soon after.
  std::promise<BackupOutcome> ended;
  std::future<BackupOutcome> outcome = ended.get_future();
  request->onOutcome = [&ended](const BackupOutcome& result) { ended.set_value(result); };
  // The runner records a stored connection's job in its history and gives it
  // the connection's test restore, as for every other job.
  static const SystemClock clock;
  JobRunner::Observer observer;
  std::FILE* err = io.err;
  // Written on the job's thread before the outcome is given.
  std::string offsiteFailure;
  observer.ended = [err, &offsiteFailure](const JobEnded& job, const std::string& storeError) {
    offsiteFailure = job.offsiteFailure;
    if (!storeError.empty()) {
      std::fprintf(err, "not in the history: %s\n", storeError.c_str());
    }
  };
  observer.metricsNotWritten = [err](const std::string& problem) {
    std::fprintf(err, "%s\n", problem.c_str());
  };
  observer.alertNotSent = observer.metricsNotWritten;
  JobRunner runner(stored ? stored->store.get() : nullptr, clock, std::move(observer));
  const JobStart begun = runner.Start(request, JobOrigin::Command, StartRule::Always);
  if (begun == JobStart::AlreadyRunning) {
    PrintError(io, kSpec.name, request->job.name + ": " + kTextPreviousRunStillGoing);
    return kExitAlreadyRunning;
  }
  if (begun != JobStart::Started) {
    PrintError(io, kSpec.name, "could not start the job's thread");
    return kExitFailed;
  }
  const BackupOutcome result = outcome.get();
  // The job has given its outcome; its thread only ends now.
  runner.WaitForAll(std::chrono::hours(24));
  if (!result.cause.empty()) {
    std::fprintf(io.err, "%s\n", result.cause.c_str());
  }
  if (result.verifyRestore) {
    std::fprintf(io.err, "%s\n",
                 TestRestoreText(VerifyRestoreResultName(result.verifyRestore->result),
                                 result.verifyRestore->detail)
                     .c_str());
  }
  const int status = ExitStatus(result, signals.Received());
  if (!offsiteFailure.empty()) {
    std::fprintf(io.err, "off-site copy failed: %s\n", offsiteFailure.c_str());
    return status == kExitOk ? kExitPlacedNotOffsite : status;
  }
  return status;
}

}  // namespace vaultwick
