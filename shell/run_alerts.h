#pragma once

// Which runs of a stored connection are told to the alert channels: a failed
// run, the first good run after a failed one, and with "always" every run.

#include <optional>
#include <string>

#include "platform/settings_store.h"
#include "shell/alert.h"
#include "shell/alert_settings.h"

namespace vaultwick {

// The event run `run` calls for, after `previous` (the connection's last
// run before it that was started; nullopt when none was); nullopt for none.
// A run that was not started (one was under way) calls for none.
std::optional<AlertEvent> RunAlertEvent(const HistoryRow& run,
                                        const std::optional<HistoryRow>& previous, AlertWhen when);

// An alert ready to send, with where to send it.
struct PendingAlert {
  AlertSettings settings;
  Alert alert;
};

// The alert run `row` (which placed its archive in `saveTo`, if anywhere)
// calls for, read from the store before the row is appended to its history;
// nullopt when it calls for none or no channel is set. Throws
// SettingsStoreError.
std::optional<PendingAlert> PrepareRunAlert(SettingsStore& store, const HistoryRow& row,
                                            const std::string& saveTo);

}  // namespace vaultwick
