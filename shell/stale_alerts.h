#pragma once

// The alert nobody else sends: a connection whose last good backup is older
// than its schedule allows (twice its period and an hour), whether its runs
// fail or nothing ran at all (the scheduler stopped, the machine off). One
// alert when it turns stale, again once a day while it stays so; a
// connection never backed up well counts from when this first looked at it.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/run_alerts.h"

namespace vaultwick {

inline constexpr std::chrono::hours kStaleAlertEvery{24};

// The stale alerts due at the clock's now, each claimed in the store so that
// it goes once whatever the number of schedulers on the store; empty when no
// alert channel is set. Throws SettingsStoreError.
std::vector<PendingAlert> ClaimStaleAlerts(SettingsStore& store, const Clock& clock);

// Sends every alert at once and returns, within their time limit, what each
// made of it: one line per alert, "NAME: stale alert sent" or "NAME: stale
// alert not sent: why".
std::vector<std::string> SendStaleAlerts(const std::vector<PendingAlert>& alerts);

// Sends stale alerts off the caller's thread, for a front end whose thread
// must not wait (a window's). One batch at a time: a new one waits for the
// last, which its time limit bounds; so does the destructor.
class BackgroundStaleAlerts {
 public:
  BackgroundStaleAlerts() = default;
  ~BackgroundStaleAlerts();
  BackgroundStaleAlerts(const BackgroundStaleAlerts&) = delete;
  BackgroundStaleAlerts& operator=(const BackgroundStaleAlerts&) = delete;

  void Send(std::vector<PendingAlert> alerts);

 private:
  std::thread sender_;
};

}  // namespace vaultwick
