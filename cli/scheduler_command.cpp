#include "cli/scheduler_command.h"

#include <string.h>

#include <chrono>
#include <mutex>

#include "cli/stop_signals.h"
#include "shell/connections.h"
#include "shell/job_runner.h"
#include "shell/scheduler.h"
#include "shell/stale_alerts.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick scheduler [--max-parallel N [--save]] [--store FILE]\n"
    "Runs in the foreground. In the first minute of every hour it backs up each\n"
    "stored connection that is due, into the stored target folder, and logs one\n"
    "line per start and per outcome; `vaultwick history` shows them later.\n"
    "At most N backups run at once (the store's setting, 2 unless --save changed\n"
    "it; --max-parallel N alone holds for this process only); the others wait in\n"
    "due order, logged and in the history as queued, and start as others end.\n"
    "--save keeps N in the store for every scheduler and ends.\n"
    "SIGTERM, SIGINT (Ctrl-C) or SIGHUP stop it after asking running backups to\n"
    "stop. A systemd user unit, vaultwick-scheduler.service, runs it as a service.\n";

constexpr OptionSpec kOptions[] = {
    kStoreOption, {"--test-clock", true}, {"--max-parallel", true}, {"--save", false}};
constexpr CommandSpec kSpec{"scheduler", kUsage, kOptions, 0};

// One line per event, each flushed at once so a pipe or journal sees it.
class Log {
 public:
  Log(std::FILE* out, const Clock& clock) : out_(out), clock_(clock) {}

  void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s %s\n", FormatLocalTime(clock_.ToLocalTime(clock_.Now())).c_str(),
                 text.c_str());
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  const Clock& clock_;
  std::mutex mutex_;
};

std::string OutcomeLine(const JobEnded& ended, const std::string& storeError) {
  std::string line = ended.connection + ": ";
  if (!ended.outcome) {
    line += kTextPreviousRunStillGoing;
  } else {
    const BackupOutcome& outcome = *ended.outcome;
    line += EndTextWithCause(outcome.endText, outcome.cause) + "; " +
            std::to_string(outcome.rowsWritten) + " rows, " + std::to_string(outcome.archiveSize) +
            " bytes, " + FormatSeconds(ended.durationMs);
    if (outcome.verifyRestore) {
      line += "; " + TestRestoreText(VerifyRestoreResultName(outcome.verifyRestore->result),
                                     outcome.verifyRestore->detail);
    }
    if (!ended.offsiteFailure.empty()) {
      line += "; " + NotCopiedOffsiteText(ended.offsiteFailure);
    }
  }
  if (!storeError.empty()) {
    line += "; not in the history: " + storeError;
  }
  return line;
}

// Time until one second past the next whole minute of the system clock, so
// that every tick falls early in its minute.
std::chrono::nanoseconds UntilNextTick() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto minute = floor<minutes>(now);
  return duration_cast<nanoseconds>(minute + minutes(1) + seconds(1) - now);
}

void LogStarts(const Scheduler::TickReport& report, int maxParallel, Log& log) {
  for (const std::string& problem : report.problems) {
    log.Line("skipped " + problem);
  }
  for (const std::string& name : report.queued) {
    log.Line(name + ": queued (at most " + std::to_string(maxParallel) + " backups at once)");
  }
}

void RunTick(SettingsStore& store, Scheduler& scheduler, Log& log) {
  std::vector<std::string> names;
  try {
    names = ListConnections(store);
  } catch (const SettingsStoreError& error) {
    log.Line(std::string("cannot read the connections: ") + error.what());
    return;
  }
  const Scheduler::TickReport report = scheduler.Tick(names);
  LogStarts(report, scheduler.MaxParallel(), log);
  // Within the alerts' time limit, which the next tick easily waits for.
  for (const std::string& line : SendStaleAlerts(report.staleAlerts)) {
    log.Line(line);
  }
}

// The scheduler's life: ticks once a minute until a stop signal, then asks
// the running jobs to stop and waits for them.
int Schedule(SettingsStore& store, const std::optional<LocalTime>& testTime, int maxParallel,
             const CommandIo& io) {
  // Before any job thread starts, so every thread inherits the mask and the
  // signals arrive only where this loop waits for them.
  StopSignals signals;

  SystemClock systemClock;
  TestClock testClock(testTime.value_or(LocalTime{}));
  const Clock& clock = testTime ? static_cast<const Clock&>(testClock) : systemClock;
  Log log(io.out, clock);

  JobRunner::Observer observer;
  observer.started = [&log](const std::string& name, JobOrigin origin) {
    log.Line(name + ": started (" + JobOriginName(origin) + ")");
  };
  observer.ended = [&log](const JobEnded& ended, const std::string& storeError) {
    log.Line(OutcomeLine(ended, storeError));
  };
  observer.placeFreed = [&signals] { signals.Wake(); };  // for a queued run
  observer.metricsNotWritten = [&log](const std::string& problem) { log.Line(problem); };
  observer.alertNotSent = [&log](const std::string& problem) { log.Line(problem); };
  JobRunner runner(&store, clock, observer);
  Scheduler scheduler(store, runner, clock, maxParallel);
  log.Line("scheduler running on the store " + store.path());

  bool tickNow = testTime.has_value();
  int stopSignal = 0;
  while (stopSignal == 0) {
    if (tickNow) {
      RunTick(store, scheduler, log);
    } else {
      LogStarts(scheduler.StartQueued(), maxParallel, log);
    }
    const auto nextTick = std::chrono::steady_clock::now() + UntilNextTick();
    stopSignal = signals.WaitFor(nextTick - std::chrono::steady_clock::now());
    tickNow = std::chrono::steady_clock::now() >= nextTick;
  }

  const int running = runner.RunningJobCount();
  log.Line(std::string("stopping on SIG") + sigabbrev_np(stopSignal) +
           (running > 0 ? "; asking " + std::to_string(running) + " backup(s) to stop" : ""));
  const bool allEnded = runner.Shutdown(JobRunner::kShutdownWait);
  log.Line(allEnded ? "stopped" : "stopped; a backup did not end in time");
  return allEnded ? kExitOk : kExitFailed;
}

}  // namespace

int RunSchedulerCommand(int argc, char** argv, const CommandIo& io) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  std::optional<LocalTime> testTime;
  if (arguments.Has("--test-clock")) {
    testTime = ParseLocalTime(*arguments.Value("--test-clock"));
    if (!testTime) {
      return UsageError(kSpec, io, "--test-clock needs YYYY-MM-DDTHH:MM:SS");
    }
  }
  std::optional<int> maxParallel;
  if (arguments.Has("--max-parallel")) {
    maxParallel = ParseNumber(*arguments.Value("--max-parallel"), 1, Scheduler::kMaxMaxParallel);
    if (!maxParallel) {
      return UsageError(
          kSpec, io,
          "--max-parallel takes a number from 1 to " + std::to_string(Scheduler::kMaxMaxParallel));
    }
  }
  if (arguments.Has("--save") && !maxParallel) {
    return UsageError(kSpec, io, "--save needs --max-parallel N");
  }
  return WithStore(kSpec, arguments, io, [&](SettingsStore& store) {
    if (arguments.Has("--save")) {
      SaveMaxParallel(store, *maxParallel);
      return kExitOk;
    }
    return Schedule(store, testTime, maxParallel.value_or(LoadMaxParallel(store)), io);
  });
}

}  // namespace vaultwick
