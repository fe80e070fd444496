#include "shell/alert.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include "backup/restore_point_layout.h"
#include "platform/child_process.h"
#include "platform/http_post.h"
#include "platform/json_text.h"
#include "shell/history.h"

namespace vaultwick {
namespace {

// "2026-12-09T01:02:03Z".
std::string UtcText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

const char* YesNo(const std::optional<bool>& value) {
  return !value ? "" : (*value ? "yes" : "no");
}

// One fact under its JSON name and its environment name.
struct Fact {
  const char* json;
  const char* environment;
  std::string text;     // as the environment gets it
  std::string literal;  // as JSON gets it
};

std::vector<Fact> Facts(const Alert& alert) {
  std::vector<Fact> facts;
  auto text = [&facts](const char* json, const char* environment, const std::string& value) {
    facts.push_back({json, environment, value, JsonString(value)});
  };
  auto number = [&facts](const char* json, const char* environment, const std::string& value) {
    facts.push_back({json, environment, value, value});
  };
  auto flag = [&facts](const char* json, const char* environment,
                       const std::optional<bool>& value) {
    facts.push_back(
        {json, environment, YesNo(value), !value ? "null" : (*value ? "true" : "false")});
  };
  text("event", "VAULTWICK_EVENT", AlertEventName(alert.event));
  text("connection", "VAULTWICK_CONNECTION", alert.connection);
  text("host", "VAULTWICK_HOST", alert.host);
  text("result", "VAULTWICK_RESULT", alert.result);
  text("end_text", "VAULTWICK_END_TEXT", alert.endText);
  text("cause", "VAULTWICK_CAUSE", alert.cause);
  text("archive", "VAULTWICK_ARCHIVE", alert.archive);
  number("size_bytes", "VAULTWICK_SIZE_BYTES", std::to_string(alert.sizeBytes));
  number("rows", "VAULTWICK_ROWS", std::to_string(alert.rows));
  number("duration_seconds", "VAULTWICK_DURATION_SECONDS", Decimal(alert.durationSeconds));
  flag("checked", "VAULTWICK_CHECKED", alert.checked);
  text("verified", "VAULTWICK_VERIFIED", alert.verified);
  flag("offsite", "VAULTWICK_OFFSITE", alert.offsite);
  text("time", "VAULTWICK_TIME", UtcText(alert.time));
  if (alert.lastGood) {
    text("last_good", "VAULTWICK_LAST_GOOD", UtcText(*alert.lastGood));
  } else {
    facts.push_back({"last_good", "VAULTWICK_LAST_GOOD", "", "null"});
  }
  text("text", "VAULTWICK_TEXT", AlertText(alert));
  return facts;
}

std::string HumanSize(std::int64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

std::string CommandProblem(const ChildOutcome& outcome, int timeLimitSeconds) {
  switch (outcome.end) {
    case ChildEnd::Exited: {
      std::string problem = "the command exited with status " + std::to_string(outcome.exitCode);
      std::string tail = outcome.errorTail;
      while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) {
        tail.pop_back();
      }
      if (const auto line = tail.rfind('\n'); line != std::string::npos) {
        tail.erase(0, line + 1);
      }
      return tail.empty() ? problem : problem + ": " + tail;
    }
    case ChildEnd::Signalled:
      return "the command was ended by a signal";
    case ChildEnd::TimedOut:
      return "the command did not end within " + std::to_string(timeLimitSeconds) + " s";
    case ChildEnd::NotStarted:
      return std::string("the command could not be started: ") +
             std::generic_category().message(outcome.error);
    case ChildEnd::Stopped:
    case ChildEnd::Refused:
      break;
  }
  return "the command was stopped";
}

}  // namespace

const char* AlertEventName(AlertEvent event) {
  switch (event) {
    case AlertEvent::Failure:
      return "failure";
    case AlertEvent::Recovery:
      return "recovery";
    case AlertEvent::Success:
      return "success";
    case AlertEvent::Stale:
      return "stale";
    case AlertEvent::Test:
      break;
  }
  return "test";
}

std::string ThisHostName() {
  char name[HOST_NAME_MAX + 1] = "";
  if (gethostname(name, sizeof name) != 0) {
    return "";
  }
  name[HOST_NAME_MAX] = '\0';
  return name;
}

Alert AlertOfRun(AlertEvent event, const HistoryRow& row, const std::string& saveTo) {
  Alert alert;
  alert.event = event;
  alert.connection = row.connection;
  alert.host = ThisHostName();
  alert.result = row.result;
  alert.endText = row.endText;
  alert.cause = row.cause;
  if (row.archiveSize > 0 && !saveTo.empty()) {
    alert.archive = CurrentArchivePath(saveTo, row.connection);
  }
  alert.sizeBytes = row.archiveSize;
  alert.rows = row.rows;
  alert.durationSeconds = static_cast<double>(row.durationMs) / 1000;
  alert.checked = row.archiveChecked;
  alert.verified = row.verified;
  if (!row.offsite.empty()) {
    alert.offsite = row.offsite == kOffsiteCopied;
  }
  if (row.offsite == kOffsiteFailed) {
    alert.cause += std::string(alert.cause.empty() ? "" : "; ") +
                   NotCopiedOffsiteText(OffsiteFailureLine(row));
  }
  alert.time = row.endedAt;
  return alert;
}

std::string AlertText(const Alert& alert) {
  std::string line = alert.host.empty() ? "" : "[" + alert.host + "] ";
  switch (alert.event) {
    case AlertEvent::Test:
      return line + "Test alert from Tessaly Vaultwick";
    case AlertEvent::Stale:
      line += alert.connection + ": no good backup " +
              (alert.lastGood ? "since " + UtcText(*alert.lastGood) : std::string("yet")) +
              ", longer than its schedule allows";
      if (!alert.endText.empty()) {
        line += "; last run: " + alert.endText;
      }
      break;
    case AlertEvent::Failure:
      line += alert.connection + " failed: " + alert.endText;
      break;
    case AlertEvent::Recovery:
      line += alert.connection + " recovered: " + alert.endText;
      break;
    case AlertEvent::Success:
      line += alert.connection + ": " + alert.endText;
      break;
  }
  if (!alert.cause.empty()) {
    line += " (" + alert.cause + ")";
  }
  if (alert.sizeBytes > 0) {
    line += ", " + HumanSize(alert.sizeBytes);
  }
  if (!alert.verified.empty()) {
    line += ", test restore " + alert.verified;
  }
  // One line, whatever a server's error text holds.
  for (char& c : line) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return line;
}

std::string AlertJson(const Alert& alert) {
  std::string json = "{";
  for (const Fact& fact : Facts(alert)) {
    json += (json.size() > 1 ? "," : "") + JsonString(fact.json) + ":" + fact.literal;
  }
  return json + "}";
}

std::vector<std::string> AlertEnvironment(const Alert& alert) {
  std::vector<std::string> environment;
  for (const Fact& fact : Facts(alert)) {
    environment.push_back(std::string(fact.environment) + "=" + fact.text);
  }
  return environment;
}

std::string AlertDelivery::Problems() const {
  std::string problems;
  if (webhook && !webhook->empty()) {
    problems = "webhook: " + *webhook;
  }
  if (command && !command->empty()) {
    problems += (problems.empty() ? "" : "; ") + std::string("command: ") + *command;
  }
  return problems;
}

AlertDelivery SendAlert(const AlertSettings& settings, const Alert& alert) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeLimitSeconds);
  AlertDelivery delivery;
  std::thread webhookThread;
  if (!settings.webhook.empty()) {
    auto post = [&delivery, &settings, &alert, deadline] {
      delivery.webhook = PostHttp(HttpPost{settings.webhook, settings.webhookHeaders,
                                           "application/json", AlertJson(alert), deadline, 2});
    };
    try {
      webhookThread = std::thread(post);
    } catch (const std::system_error&) {
      post();  // no thread for it: one after the other, each within the limit still
    }
  }
  if (!settings.command.empty()) {
    ChildLimits limits;
    limits.deadline = deadline;
    const ChildOutcome outcome = RunChild(
        {"/bin/sh", "-c", settings.command}, limits, [](std::string_view) { return true; },
        AlertEnvironment(alert));
    delivery.command =
        outcome.Succeeded() ? std::string() : CommandProblem(outcome, settings.timeLimitSeconds);
  }
  if (webhookThread.joinable()) {
    webhookThread.join();
  }
  return delivery;
}

}  // namespace vaultwick
