#include "shell/run_alerts.h"

#include "shell/connection_status.h"
#include "shell/history.h"

namespace vaultwick {
namespace {

// Enough to pass the rows of runs declined while one hung for a day.
constexpr int kRowsLookedBack = 200;

}  // namespace

std::optional<AlertEvent> RunAlertEvent(const HistoryRow& run,
                                        const std::optional<HistoryRow>& previous, AlertWhen when) {
  if (!WasStarted(run)) {
    return std::nullopt;
  }
  if (!IsGoodRun(run)) {
    return AlertEvent::Failure;
  }
  if (previous && !IsGoodRun(*previous)) {
    return AlertEvent::Recovery;
  }
  if (when == AlertWhen::Always) {
    return AlertEvent::Success;
  }
  return std::nullopt;
}

std::optional<PendingAlert> PrepareRunAlert(SettingsStore& store, const HistoryRow& row,
                                            const std::string& saveTo) {
  if (!WasStarted(row)) {
    return std::nullopt;
  }
  AlertSettings settings = LoadAlertSettings(store);
  if (!settings.AnyChannel()) {
    return std::nullopt;
  }
  std::optional<HistoryRow> previous;
  for (HistoryRow& earlier : ReadHistory(store, row.connection, kRowsLookedBack)) {
    if (WasStarted(earlier)) {
      previous = std::move(earlier);
      break;
    }
  }
  const std::optional<AlertEvent> event = RunAlertEvent(row, previous, settings.when);
  if (!event) {
    return std::nullopt;
  }
  return PendingAlert{std::move(settings), AlertOfRun(*event, row, saveTo)};
}

}  // namespace vaultwick
