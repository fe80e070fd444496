#pragma once

// The off-site step (shell/offsite_copy.h) as the job runner runs it, at the
// end of a job of a stored connection, under that connection's lock: the
// store is read and written under the runner's report lock, rclone runs with
// it released, and the job's progress window and echo say what goes on.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "backup/job_ports.h"
#include "common/stop_token.h"
#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

struct OffsiteJob {
  bool encrypted = false;  // the job's archive is encrypted
  StopToken stop;          // the job's stop, which also ends the copy
  std::shared_ptr<StatusTextPort> window;
  std::shared_ptr<StatusTextPort> echo;
};

// Runs the off-site step of the job whose history row is `row` (its
// restore points pruned): `lock` is held on entry and on return, and
// released while rclone runs. Fills the row's off-site columns, and
// `failure` with what failed in rclone's words. False when `alive`, asked
// once the lock is held again, says the runner went away meanwhile: then
// nothing was recorded and the caller must touch nothing more.
bool CopyOffsite(std::unique_lock<std::mutex>& lock, const OffsiteJob& job, SettingsStore& store,
                 const Clock& clock, std::string_view saveTo, HistoryRow& row, std::string& failure,
                 const std::function<bool()>& alive);

}  // namespace vaultwick
