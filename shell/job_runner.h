#pragma once

// The job runner: starts every backup job on a thread it owns, knows which
// connections have a job under way, writes each job's outcome into the
// history, and at shutdown asks every job to stop and waits for them, within
// a bound. No job thread is ever left for nobody to join while the runner
// lives.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "backup/backup_request.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/history.h"

namespace vaultwick {

enum class JobStart {
  Started,
  AlreadyRunning,  // refused: a job of that connection is under way
  NoThread,        // no thread could be started
};

enum class StartRule {
  Always,
  UnlessRunning,  // refuse while a job of the same connection (letter case ignored) runs
};

// What starts jobs; the scheduler knows only this.
class JobStarter {
 public:
  virtual ~JobStarter() = default;
  // On Started the job owns the request and `request` is null afterwards;
  // otherwise the caller still owns it.
  virtual JobStart Start(std::unique_ptr<BackupRequest>& request, JobOrigin origin,
                         StartRule rule) = 0;
  // The jobs under way, whatever started them.
  virtual int RunningJobCount() const = 0;
};

class JobRunner final : public JobStarter {
 public:
  // How long the destructor waits for jobs asked to stop.
  static constexpr std::chrono::seconds kShutdownWait{30};

  // Told of each job, for a log or a window; both optional.
  struct Observer {
    // On the starting thread, just after the job's thread started.
    std::function<void(const std::string& name, JobOrigin origin)> started;
    // On the job's thread once the job has ended, after its history row was
    // written; also (on the starting thread) for a start refused by
    // UnlessRunning. `storeError` is empty unless the row could not be written.
    std::function<void(const JobEnded& ended, const std::string& storeError)> ended;
    // On the job's thread, before `ended`, when the store names a metrics
    // file that could not be written: why.
    std::function<void(const std::string& problem)> metricsNotWritten;
    // On the job's thread, before `ended`, when an alert the run called for
    // was not taken by a channel: which connection and why (also in the
    // run's history row).
    std::function<void(const std::string& problem)> alertNotSent;
    // On the job's thread, after `ended`, once the job no longer counts as
    // running: a place is free for a job that waits.
    std::function<void()> placeFreed;
  };

  // `history` may be null (then nothing is written); it and `clock` must
  // outlive the runner.
  JobRunner(SettingsStore* history, const Clock& clock, Observer observer = {});
  // Shutdown(kShutdownWait), unless Shutdown ran already.
  ~JobRunner() override;
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Starts RunBackupJob on a thread of the runner's. The job counts as
  // running from before its thread starts until the thread has ended. A
  // request's own onOutcome still runs, after the history row is written.
  // A request that asks for no test restore gets the one its stored
  // connection asks for, and its stored passwords (AddStoredSettings), whatever
  // started it.
  // A job that placed and checked its archive then prunes the connection's
  // restore points by its stored keep policy (PruneAfterRun), while it still
  // counts as running, and its history row names what went. The run's alert
  // (see run_alerts.h) goes out before its row is written, within the
  // alerts' time limit.
  // After Shutdown nothing starts (NoThread).
  JobStart Start(std::unique_ptr<BackupRequest>& request, JobOrigin origin,
                 StartRule rule) override;

  // Letter case ignored.
  bool IsRunning(std::string_view name) const;
  int RunningJobCount() const override;

  // Asks every running job to stop.
  void StopAll();
  // Waits until every job has ended or `bound` has passed; joins the threads
  // of the jobs that ended. True when none is left.
  bool WaitForAll(std::chrono::milliseconds bound);

  // Asks every job to stop and waits for them up to `bound`. A job thread
  // that has not ended by then is left to end with the process, and writes
  // nothing more anywhere. True when every job ended. Must not run on a
  // thread that a job may be waiting for (a window's thread).
  bool Shutdown(std::chrono::milliseconds bound);

 private:
  struct Shared;
  struct Job;
  void JoinEndedLocked();

  std::shared_ptr<Shared> shared_;
};

}  // namespace vaultwick
