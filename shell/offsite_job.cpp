#include "shell/offsite_job.h"

#include "shell/history.h"
#include "shell/offsite_copy.h"

namespace vaultwick {
namespace {

void Show(const OffsiteJob& job, const std::string& text) {
  for (const std::shared_ptr<StatusTextPort>& port : {job.window, job.echo}) {
    if (port) {
      port->SetStatusText(text);
    }
  }
}

}  // namespace

bool CopyOffsite(std::unique_lock<std::mutex>& lock, const OffsiteJob& job, SettingsStore& store,
                 const Clock& clock, std::string_view saveTo, HistoryRow& row, std::string& failure,
                 const std::function<bool()>& alive) {
  std::optional<OffsitePlan> plan;
  try {
    plan = PlanOffsiteCopy(store, saveTo, row, job.encrypted, clock);
  } catch (const SettingsStoreError& error) {
    row.offsite = kOffsiteFailed;
    row.offsiteDetail = failure = error.what();
    return true;
  }
  if (!plan) {
    return true;
  }
  const std::int64_t now = ToUnixSeconds(clock.Now());
  lock.unlock();
  Show(job, kTextCopyingOffsite);
  const OffsiteResult result =
      RunOffsiteCopy(*plan, std::chrono::steady_clock::now() + kOffsiteTimeLimit, job.stop, now);
  Show(job, row.endText +
                (result.failure.empty() ? kTextCopiedOffsiteSuffix : kTextNotCopiedOffsiteSuffix));
  lock.lock();
  if (!alive()) {
    return false;
  }
  failure = result.failure;
  try {
    RecordOffsiteCopy(store, *plan, result, row);
  } catch (const SettingsStoreError& error) {
    row.offsite = result.failure.empty() ? kOffsiteCopied : kOffsiteFailed;
    row.offsiteDetail = std::string("The off-site copies could not be noted: ") + error.what();
  }
  return true;
}

}  // namespace vaultwick
