#include "shell/alert_settings.h"

#include <charconv>

namespace vaultwick {

const char* AlertWhenName(AlertWhen when) {
  return when == AlertWhen::Always ? "always" : "failures";
}

std::optional<AlertWhen> ParseAlertWhen(std::string_view text) {
  if (text == "failures") {
    return AlertWhen::Failures;
  }
  if (text == "always") {
    return AlertWhen::Always;
  }
  return std::nullopt;
}

std::string WebhookUrlProblem(std::string_view url) {
  const bool http = url.substr(0, 7) == "http://" && url.size() > 7;
  const bool https = url.substr(0, 8) == "https://" && url.size() > 8;
  if (!http && !https) {
    return "the webhook must be an http:// or https:// URL";
  }
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
      return "the webhook URL holds a space or a control character";
    }
  }
  return "";
}

std::string WebhookHeaderProblem(std::string_view header) {
  const std::string_view::size_type colon = header.find(':');
  if (colon == 0 || colon == std::string_view::npos) {
    return "a webhook header must read 'Name: value'";
  }
  for (std::string_view::size_type i = 0; i < header.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(header[i]);
    // A line break would start a header (or a body) of its own.
    if (c < 0x20 || c == 0x7f || (i < colon && (c == ' ' || c == '\t'))) {
      return "a webhook header's name holds a space, or the header a control character";
    }
  }
  return "";
}

AlertSettings LoadAlertSettings(SettingsStore& store) {
  AlertSettings settings;
  settings.webhook = store.ReadText(settings::kAlertWebhook);
  const std::string headers = store.ReadText(settings::kAlertWebhookHeaders);
  for (std::string::size_type start = 0; start < headers.size();) {
    std::string::size_type end = headers.find('\n', start);
    if (end == std::string::npos) {
      end = headers.size();
    }
    if (end > start) {
      settings.webhookHeaders.push_back(headers.substr(start, end - start));
    }
    start = end + 1;
  }
  settings.command = store.ReadText(settings::kAlertCommand);
  settings.when =
      ParseAlertWhen(store.ReadText(settings::kAlertWhen)).value_or(AlertWhen::Failures);
  const std::string limit = store.ReadText(settings::kAlertTimeLimit);
  int seconds = 0;
  const auto [end, error] = std::from_chars(limit.data(), limit.data() + limit.size(), seconds);
  if (error == std::errc() && end == limit.data() + limit.size() && seconds >= 1 &&
      seconds <= AlertSettings::kMaxTimeLimitSeconds) {
    settings.timeLimitSeconds = seconds;
  }
  return settings;
}

void SaveAlertSettings(SettingsStore& store, const AlertSettings& settings) {
  std::string headers;
  for (const std::string& header : settings.webhookHeaders) {
    headers += header + "\n";
  }
  store.WriteTransaction([&] {
    store.WriteText(settings::kAlertWebhook, settings.webhook);
    store.WriteText(settings::kAlertWebhookHeaders, headers);
    store.WriteText(settings::kAlertCommand, settings.command);
    store.WriteText(settings::kAlertWhen, AlertWhenName(settings.when));
    store.WriteText(settings::kAlertTimeLimit, std::to_string(settings.timeLimitSeconds));
  });
}

}  // namespace vaultwick
