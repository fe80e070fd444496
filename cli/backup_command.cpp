#include "cli/backup_command.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "backup/run_backup_job.h"
#include "cli/backup_connection.h"
#include "cli/command_support.h"
#include "cli/password_input.h"
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
    "SIGTERM or SIGHUP stopped it (nothing placed, no temporary files left).\n"
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
constexpr int kExitSignalBase = 128;

// SIGINT, SIGTERM and SIGHUP, taken from a descriptor instead of killing the
// process: blocked here, before the job's thread starts, so that the thread
// inherits the mask and no handler runs in the middle of the job. The old
// mask comes back at the end, after any of them still pending were taken.
class StopSignals {
 public:
  StopSignals() : set_(BlockStopSignals(&previous_)) {
    fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) {
      // Nothing could take them: better they end the process as before.
      pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  ~StopSignals() {
    if (fd_ < 0) {
      return;
    }
    while (Take() != 0) {
    }
    ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  int fd() const { return fd_; }
  // The number of a pending signal of the set, taken; 0 when none is pending.
  int Take() {
    signalfd_siginfo info{};
    if (fd_ < 0 || ::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
      return 0;
    }
    return static_cast<int>(info.ssi_signo);
  }

 private:
  sigset_t previous_{};  // declared first: the initialiser of set_ fills it
  const sigset_t set_;
  int fd_ = -1;
};

// Waits until `jobEnded` is signalled. The first stop signal that comes
// meanwhile asks the job to stop (it then ends at its next step) and is
// returned; 0 when none came.
int WaitForJob(int jobEnded, StopSignals& signals, const StopToken& stop) {
  int received = 0;
  pollfd waits[2] = {{jobEnded, POLLIN, 0}, {signals.fd(), POLLIN, 0}};
  for (;;) {
    if (::poll(waits, signals.fd() >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return received;  // cannot wait any more; the caller joins the job
    }
    if (int signal = (waits[1].revents & POLLIN) ? signals.Take() : 0;
        signal != 0 && received == 0) {
      received = signal;
      stop.RequestStop();
    }
    if (waits[0].revents & POLLIN) {
      return received;
    }
  }
}

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
    request->name = *arguments.Value("--name");
    request->server.host = *arguments.Value("--host");
    request->server.login = *arguments.Value("--login");
    if (arguments.Has("--password-stdin")) {
      request->server.password = ReadPasswordLine(io);
    } else {
      const char* password = std::getenv("VAULTWICK_PASSWORD");
      request->server.password = password != nullptr ? password : "";
    }
    request->server.database = *arguments.Value("--database");
    request->saveTo = *arguments.Value("--save-to");
  }
  request->statusEcho = std::make_shared<StatusLines>(io.err);
  request->messageBox = std::make_shared<ErrorLines>(io.err);
  const StopToken stop = request->stop;

  StopSignals signals;
  const int jobEnded = ::eventfd(0, EFD_CLOEXEC);
  if (jobEnded < 0) {
    PrintError(io, kSpec.name, std::string("eventfd: ") + std::strerror(errno));
    return kExitFailed;
  }
  // Written by the job's thread as its last act; read here only after the
  // thread was joined.
  std::optional<BackupOutcome> outcome;
  request->onOutcome = [&outcome, jobEnded](const BackupOutcome& result) {
    outcome = result;
    const std::uint64_t one = 1;
    while (::write(jobEnded, &one, sizeof one) < 0 && errno == EINTR) {
    }
  };
  // The runner records a stored connection's job in its history and gives it
  // the connection's test restore, as for every other job.
  static const SystemClock clock;
  JobRunner::Observer observer;
  std::FILE* err = io.err;
  observer.ended = [err](const JobEnded&, const std::string& storeError) {
    if (!storeError.empty()) {
      std::fprintf(err, "not in the history: %s\n", storeError.c_str());
    }
  };
  JobRunner runner(stored ? stored->store.get() : nullptr, clock, std::move(observer));
  if (runner.Start(request, JobOrigin::Command, StartRule::Always) != JobStart::Started) {
    ::close(jobEnded);
    PrintError(io, kSpec.name, "could not start the job's thread");
    return kExitFailed;
  }
  const int signal = WaitForJob(jobEnded, signals, stop);
  // The job has given its outcome; its thread only ends now.
  runner.WaitForAll(std::chrono::hours(24));
  ::close(jobEnded);
  if (!outcome) {
    return kExitFailed;
  }
  if (!outcome->cause.empty()) {
    std::fprintf(io.err, "%s\n", outcome->cause.c_str());
  }
  if (outcome->verifyRestore) {
    std::fprintf(io.err, "%s\n",
                 TestRestoreText(VerifyRestoreResultName(outcome->verifyRestore->result),
                                 outcome->verifyRestore->detail)
                     .c_str());
  }
  return ExitStatus(*outcome, signal);
}

}  // namespace vaultwick
