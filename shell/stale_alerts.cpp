#include "shell/stale_alerts.h"

#include <system_error>
#include <thread>

#include "shell/connection_status.h"

namespace vaultwick {

std::vector<PendingAlert> ClaimStaleAlerts(SettingsStore& store, const Clock& clock) {
  const AlertSettings settings = LoadAlertSettings(store);
  if (!settings.AnyChannel()) {
    return {};
  }
  const WallTime now = clock.Now();
  const std::int64_t nowSeconds = ToUnixSeconds(now);
  std::vector<PendingAlert> due;
  for (const ConnectionStatus& status : ReadConnectionStatus(store, clock)) {
    std::optional<WallTime> since = status.lastGood;
    if (status.stale && !since) {
      since = WallTime(std::chrono::seconds(store.WatchForStaleAlert(status.name, nowSeconds)));
    }
    if (!status.stale || !IsStale(since, status.periodHours, now)) {
      if (status.lastGood || !status.stale) {
        store.ForgetStaleAlert(status.name);
      }
      continue;
    }
    if (!store.ClaimStaleAlert(status.name, nowSeconds,
                               std::chrono::seconds(kStaleAlertEvery).count())) {
      continue;
    }
    Alert alert;
    alert.event = AlertEvent::Stale;
    alert.connection = status.name;
    alert.host = ThisHostName();
    alert.time = nowSeconds;
    if (status.lastGood) {
      alert.lastGood = ToUnixSeconds(*status.lastGood);
    }
    if (status.lastRun) {
      alert.result = status.lastRun->result;
      alert.endText = status.lastRun->endText;
      alert.cause = status.lastRun->cause;
    }
    due.push_back({settings, std::move(alert)});
  }
  return due;
}

std::vector<std::string> SendStaleAlerts(const std::vector<PendingAlert>& alerts) {
  std::vector<std::string> problems(alerts.size());
  auto send = [&alerts, &problems](std::size_t i) {
    problems[i] = SendAlert(alerts[i].settings, alerts[i].alert).Problems();
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < alerts.size(); ++i) {
    try {
      threads.emplace_back(send, i);
    } catch (const std::system_error&) {
      send(i);  // no thread for it: here, within its own limit
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < alerts.size(); ++i) {
    lines.push_back(alerts[i].alert.connection + ": stale alert " +
                    (problems[i].empty() ? "sent" : "not sent: " + problems[i]));
  }
  return lines;
}

BackgroundStaleAlerts::~BackgroundStaleAlerts() {
  if (sender_.joinable()) {
    sender_.join();
  }
}

void BackgroundStaleAlerts::Send(std::vector<PendingAlert> alerts) {
  if (alerts.empty()) {
    return;
  }
  if (sender_.joinable()) {
    sender_.join();
  }
  try {
    sender_ = std::thread([alerts = std::move(alerts)] { SendStaleAlerts(alerts); });
  } catch (const std::system_error&) {
    // No thread: the alerts are lost this time; their claims stand for a day.
  }
}

}  // namespace vaultwick
