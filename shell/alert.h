#pragma once

// One alert: the facts of a run (or of a stale connection, or a test) as a
// webhook's JSON, as a command's VAULTWICK_* environment and as one readable
// line; and sending it to every channel set, each within the time limit.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "shell/alert_settings.h"

namespace vaultwick {

enum class AlertEvent {
  Failure,   // a run that did not place a whole, verified archive
  Recovery,  // the first good run after a failed one
  Success,   // a good run, when every run is told
  Stale,     // no good backup for longer than the schedule allows
  Test,      // vaultwick alerts test, or the desktop's Test button
};

// "failure", "recovery", "success", "stale", "test".
const char* AlertEventName(AlertEvent event);

struct Alert {
  AlertEvent event = AlertEvent::Test;
  std::string connection;
  std::string host;  // this machine's name
  // The run's result column, end text and cause (empty for stale and test).
  std::string result;
  std::string endText;
  std::string cause;
  std::string archive;  // the archive file the run placed; empty when none
  std::int64_t sizeBytes = 0;
  std::int64_t rows = 0;
  double durationSeconds = 0;
  std::optional<bool> checked;
  std::string verified;  // "verified", "differs", "failed"; empty without a test restore
  // Whether the archive's off-site copy was made; nullopt when none is set up.
  std::optional<bool> offsite;
  std::int64_t time = 0;  // seconds since 1970: when the run ended, or the stale check ran
  // For stale: when the last good backup ended; nullopt when none did.
  std::optional<std::int64_t> lastGood;
};

// This machine's host name.
std::string ThisHostName();

// The alert of a run that history row `row` records; `saveTo` is the
// target folder the archive was placed in.
Alert AlertOfRun(AlertEvent event, const HistoryRow& row, const std::string& saveTo);

// One line a person reads as it comes, in a chat or a mail subject.
std::string AlertText(const Alert& alert);
// A JSON object of every fact and the line above as "text".
std::string AlertJson(const Alert& alert);
// "VAULTWICK_EVENT=failure", ... one entry per fact, the line as VAULTWICK_TEXT.
std::vector<std::string> AlertEnvironment(const Alert& alert);

// What each channel made of an alert: nullopt when the channel is not set,
// empty when it took the alert, else why not.
struct AlertDelivery {
  std::optional<std::string> webhook;
  std::optional<std::string> command;

  // "webhook: why; command: why" for the channels that did not take it.
  std::string Problems() const;
};

// Sends `alert` to every channel `settings` sets, at once, and returns when
// each has taken it or failed, within the settings' time limit.
AlertDelivery SendAlert(const AlertSettings& settings, const Alert& alert);

}  // namespace vaultwick
