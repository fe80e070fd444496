#include "shell/job_runner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "backup/run_backup_job.h"
#include "shell/connection_lock.h"
#include "shell/connections.h"
#include "shell/metrics_file.h"
#include "shell/offsite_job.h"
#include "shell/restore_points.h"
#include "shell/run_alerts.h"
#include "shell/stored_backup.h"

namespace vaultwick {

struct JobRunner::Job {
  std::string name;
  StopToken stop;
  // Held from before the job's thread starts until the job has ended and
  // its end was reported, so that no run of the connection in any program
  // overlaps it. Null for a job of no stored connection.
  std::unique_ptr<ConnectionLock> lock;
  std::thread thread;
  bool ended = false;  // guarded by Shared::jobsMutex
};

// What the runner shares with its job threads. A thread that outlives the
// runner (past the shutdown bound) keeps this alive, and finds runnerAlive
// false, so it touches neither the store nor the observer.
struct JobRunner::Shared {
  std::mutex jobsMutex;
  std::condition_variable jobEnded;
  std::vector<std::shared_ptr<Job>> jobs;
  bool shutDown = false;  // guarded by jobsMutex

  std::mutex reportMutex;
  bool runnerAlive = true;  // guarded by reportMutex
  SettingsStore* history;
  const Clock* clock;
  Observer observer;

  Shared(SettingsStore* store, const Clock& c, Observer o)
      : history(store), clock(&c), observer(std::move(o)) {}

  bool IsRunningLocked(std::string_view name) const {
    return std::any_of(jobs.begin(), jobs.end(), [&](const std::shared_ptr<Job>& job) {
      return !job->ended && SameConnectionName(job->name, name);
    });
  }

  // Writes the history row, the one place a row is made, and tells the
  // observer. A job that ran into `saveTo` under its connection's lock first
  // prunes the connection's restore points, which its row then names.
  void Report(const JobEnded& ended, const std::string& saveTo = {},
              const ConnectionLock* held = nullptr, const OffsiteJob* offsite = nullptr) {
    std::unique_lock<std::mutex> lock(reportMutex);
    if (!runnerAlive) {
      return;
    }
    HistoryRow row = MakeHistoryRow(ended, clock->Now());
    JobEnded told = ended;
    if (history != nullptr && ended.outcome) {
      if (held == nullptr || !held->held()) {
        row.cause += std::string(row.cause.empty() ? "" : "; ") +
                     "Restore points not pruned: the connection's lock " +
                     (held != nullptr ? held->path() + " " : std::string()) + "could not be taken" +
                     (held != nullptr && held->error() != 0
                          ? std::string(": ") + std::strerror(held->error())
                          : std::string());
      } else {
        try {
          PruneAfterRun(*history, saveTo, row, *clock, *held);
        } catch (const SettingsStoreError& error) {
          row.cause += std::string(row.cause.empty() ? "" : "; ") +
                       "Restore points not pruned: " + error.what();
        }
        // rclone runs with the report lock released: other jobs report,
        // and the desktop's thread never waits for a copy.
        if (offsite != nullptr &&
            !CopyOffsite(lock, *offsite, *history, *clock, saveTo, row, told.offsiteFailure,
                         [this] { return runnerAlive; })) {
          return;
        }
      }
    }
    if (history != nullptr && !SendRunAlert(row, saveTo, lock)) {
      return;
    }
    std::string storeError;
    if (history != nullptr) {
      storeError = AppendToHistory(*history, row);
      // A metrics file that cannot be written never fails the run.
      if (std::string metricsError = WriteMetricsFile(*history, *clock);
          !metricsError.empty() && observer.metricsNotWritten) {
        observer.metricsNotWritten(metricsError);
      }
    }
    if (observer.ended) {
      observer.ended(told, storeError);
    }
  }

  bool SendRunAlert(HistoryRow& row, const std::string& saveTo, std::unique_lock<std::mutex>& lock);
};

// Sends the alert the run of `row` calls for, with `lock` (on reportMutex)
// released meanwhile so that a slow channel keeps no other job's report
// waiting; one that did not take it is named in the row's cause and told
// to the observer. False when the runner went meanwhile.
bool JobRunner::Shared::SendRunAlert(HistoryRow& row, const std::string& saveTo,
                                     std::unique_lock<std::mutex>& lock) {
  std::string problem;
  try {
    std::optional<PendingAlert> alert = PrepareRunAlert(*history, row, saveTo);
    if (!alert) {
      return true;
    }
    lock.unlock();
    problem = SendAlert(alert->settings, alert->alert).Problems();
    lock.lock();
    if (!runnerAlive) {
      return false;
    }
  } catch (const SettingsStoreError& error) {
    problem = error.what();
  }
  if (!problem.empty()) {
    row.cause += std::string(row.cause.empty() ? "" : "; ") + "Alert not sent: " + problem;
    if (observer.alertNotSent) {
      observer.alertNotSent(row.connection + ": alert not sent: " + problem);
    }
  }
  return true;
}

JobRunner::JobRunner(SettingsStore* history, const Clock& clock, Observer observer)
    : shared_(std::make_shared<Shared>(history, clock, std::move(observer))) {}

JobRunner::~JobRunner() {
  Shutdown(kShutdownWait);
}

bool JobRunner::Shutdown(std::chrono::milliseconds bound) {
  {
    std::lock_guard<std::mutex> lock(shared_->jobsMutex);
    if (shared_->shutDown) {
      return shared_->jobs.empty();
    }
    shared_->shutDown = true;
  }
  StopAll();
  const bool allEnded = WaitForAll(bound);
  {
    std::lock_guard<std::mutex> lock(shared_->jobsMutex);
    for (const std::shared_ptr<Job>& job : shared_->jobs) {
      job->thread.detach();
    }
    shared_->jobs.clear();
  }
  std::lock_guard<std::mutex> lock(shared_->reportMutex);
  shared_->runnerAlive = false;
  return allEnded;
}

JobStart JobRunner::Start(std::unique_ptr<BackupRequest>& request, JobOrigin origin,
                          StartRule rule) {
  const std::string name = request->job.name;
  // Read before the lock: the store may keep a caller waiting.
  if (shared_->history != nullptr) {
    AddStoredSettings(*shared_->history, request->job);
  }

  std::unique_lock<std::mutex> lock(shared_->jobsMutex);
  if (shared_->shutDown) {
    return JobStart::NoThread;
  }
  JoinEndedLocked();
  auto job = std::make_shared<Job>();
  if (shared_->history != nullptr) {
    // Whatever the rule: a stored connection's runs never overlap, here
    // or in another program. A lock that cannot be taken at all (no room
    // for its file) does not keep the backup from running; it only keeps
    // it from pruning, which Report says.
    job->lock =
        std::make_unique<ConnectionLock>(ConnectionLock::TryTake(shared_->history->path(), name));
  }
  const bool busy = job->lock != nullptr && job->lock->state() == FileLock::State::Busy;
  if (busy || (rule == StartRule::UnlessRunning && shared_->IsRunningLocked(name))) {
    lock.unlock();
    shared_->Report(JobEnded{name, origin, std::nullopt, shared_->clock->Now(), 0, {}});
    return JobStart::AlreadyRunning;
  }

  job->name = name;
  job->stop = request->stop;
  // The caller's own onOutcome still runs, after the history row.
  std::function<void(const BackupOutcome&)> callerOnOutcome = request->onOutcome;
  OffsiteJob offsite{!request->job.archivePassword.empty(), request->stop, request->progressWindow,
                     request->statusEcho};
  request->onOutcome = [shared = shared_, name, origin, startedAt = shared_->clock->Now(),
                        steadyStart = std::chrono::steady_clock::now(),
                        saveTo = request->job.saveTo, held = job->lock.get(),
                        offsite = std::move(offsite),
                        callerOnOutcome](const BackupOutcome& outcome) {
    const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - steadyStart);
    shared->Report(JobEnded{name, origin, outcome, startedAt, duration.count(), {}}, saveTo, held,
                   &offsite);
    if (callerOnOutcome) {
      callerOnOutcome(outcome);
    }
  };

  BackupRequest* owned = request.get();
  try {
    job->thread = std::thread([shared = shared_, job, owned] {
      RunBackupJob(owned);
      job->lock.reset();
      {
        std::lock_guard<std::mutex> ended(shared->jobsMutex);
        job->ended = true;
        shared->jobEnded.notify_all();
      }
      std::lock_guard<std::mutex> report(shared->reportMutex);
      if (shared->runnerAlive && shared->observer.placeFreed) {
        shared->observer.placeFreed();
      }
    });
  } catch (const std::system_error&) {
    request->onOutcome = std::move(callerOnOutcome);
    return JobStart::NoThread;
  }
  shared_->jobs.push_back(std::move(job));
  request.release();  // the job owns it now
  lock.unlock();
  if (shared_->observer.started) {
    shared_->observer.started(name, origin);
  }
  return JobStart::Started;
}

bool JobRunner::IsRunning(std::string_view name) const {
  std::lock_guard<std::mutex> lock(shared_->jobsMutex);
  return shared_->IsRunningLocked(name);
}

int JobRunner::RunningJobCount() const {
  std::lock_guard<std::mutex> lock(shared_->jobsMutex);
  return static_cast<int>(
      std::count_if(shared_->jobs.begin(), shared_->jobs.end(),
                    [](const std::shared_ptr<Job>& job) { return !job->ended; }));
}

void JobRunner::StopAll() {
  std::lock_guard<std::mutex> lock(shared_->jobsMutex);
  for (const std::shared_ptr<Job>& job : shared_->jobs) {
    job->stop.RequestStop();
  }
}

bool JobRunner::WaitForAll(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(shared_->jobsMutex);
  shared_->jobEnded.wait_for(lock, bound, [this] {
    return std::all_of(shared_->jobs.begin(), shared_->jobs.end(),
                       [](const std::shared_ptr<Job>& job) { return job->ended; });
  });
  JoinEndedLocked();
  return shared_->jobs.empty();
}

// The ended thread set `ended` under the lock held here, and after that only
// tells placeFreed (under reportMutex, which no holder keeps while it waits
// for this lock), so joining it cannot wait for long.
void JobRunner::JoinEndedLocked() {
  auto ended = std::stable_partition(shared_->jobs.begin(), shared_->jobs.end(),
                                     [](const std::shared_ptr<Job>& job) { return !job->ended; });
  for (auto it = ended; it != shared_->jobs.end(); ++it) {
    (*it)->thread.join();
  }
  shared_->jobs.erase(ended, shared_->jobs.end());
}

}  // namespace vaultwick
