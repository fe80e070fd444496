#pragma once

// Where the store-wide alerts go and when: a webhook, a command, or both.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace vaultwick {

enum class AlertWhen {
  Failures,  // failed runs, and the first good run after a failed one
  Always,    // every run
};

struct AlertSettings {
  static constexpr int kDefaultTimeLimitSeconds = 10;
  static constexpr int kMaxTimeLimitSeconds = 600;

  std::string webhook;                      // http:// or https:// URL; empty: none
  std::vector<std::string> webhookHeaders;  // "Name: value" each
  std::string command;                      // run by /bin/sh -c; empty: none
  AlertWhen when = AlertWhen::Failures;
  int timeLimitSeconds = kDefaultTimeLimitSeconds;

  bool AnyChannel() const { return !webhook.empty() || !command.empty(); }
};

// "failures", "always".
const char* AlertWhenName(AlertWhen when);
std::optional<AlertWhen> ParseAlertWhen(std::string_view text);

// Why a webhook URL or an extra header line cannot be used; empty when it can.
std::string WebhookUrlProblem(std::string_view url);
std::string WebhookHeaderProblem(std::string_view header);

// What the store holds; a value the store holds but cannot be read as one
// (edited by hand) reads as its default.
AlertSettings LoadAlertSettings(SettingsStore& store);
// In one transaction. The values must be usable (the problems above empty).
void SaveAlertSettings(SettingsStore& store, const AlertSettings& settings);

}  // namespace vaultwick
