#pragma once

// The metrics of every stored connection in the text format of the node
// exporter's textfile collector, so that one Prometheus can watch the backups
// of many machines: written after every run by the program that ran it.

#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/connection_status.h"

namespace vaultwick {

// The metrics file the store names; empty when none.
std::string LoadMetricsFile(SettingsStore& store);
// Names `path` (made absolute) as the metrics file, or none when empty.
// nullopt, and nothing stored, when its folder does not exist; else the path kept.
std::optional<std::string> SaveMetricsFile(SettingsStore& store, const std::string& path);

// One series per connection and metric, named vaultwick_* in base units.
std::string MetricsText(const std::vector<ConnectionStatus>& statuses);

// Writes the metrics of every stored connection to the store's metrics file
// (write beside, then rename), when one is set. Empty, or why it could not.
std::string WriteMetricsFile(SettingsStore& store, const Clock& clock);

}  // namespace vaultwick
