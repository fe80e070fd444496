#include "shell/metrics_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "platform/part_file.h"
#include "shell/history.h"

namespace vaultwick {
namespace {

struct Metric {
  const char* name;
  const char* help;
};

constexpr Metric kLastRunTime{"vaultwick_last_run_timestamp_seconds",
                              "When the connection's last started run ended."};
constexpr Metric kLastRunSuccess{"vaultwick_last_run_success",
                                 "1 when the last run placed a whole, verified archive."};
constexpr Metric kLastSuccessTime{"vaultwick_last_success_timestamp_seconds",
                                  "When the connection's last good backup ended."};
constexpr Metric kArchiveBytes{"vaultwick_last_run_archive_bytes",
                               "The size of the archive the last run placed."};
constexpr Metric kRows{"vaultwick_last_run_rows", "The rows the last run dumped."};
constexpr Metric kDuration{"vaultwick_last_run_duration_seconds", "How long the last run took."};
constexpr Metric kChecked{"vaultwick_last_run_checked",
                          "1 when the last run's archive was read back and found as written."};
constexpr Metric kVerified{"vaultwick_last_run_verified",
                           "1 when the last run's test restore verified the archive, 0 when it "
                           "did not; absent without a test restore."};
constexpr Metric kOffsite{"vaultwick_last_run_offsite",
                          "1 when the last run's archive was copied off-site and proven there, 0 "
                          "when the copy failed; absent without an off-site remote."};
constexpr Metric kPeriod{"vaultwick_schedule_period_seconds",
                         "The connection's schedule period; 0 when it is never due."};
constexpr Metric kArchivesKept{"vaultwick_archives_kept",
                               "The archives kept: NAME.zip and its restore points."};
constexpr Metric kStale{"vaultwick_backup_stale",
                        "1 when no good backup is newer than twice the period and an hour."};

// A label value: \, " and line feeds escaped, as the format asks.
std::string LabelValue(const std::string& text) {
  std::string value;
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      value += '\\';
      value += c;
    } else if (c == '\n') {
      value += "\\n";
    } else {
      value += c;
    }
  }
  return value;
}

class Exposition {
 public:
  explicit Exposition(const std::vector<ConnectionStatus>& statuses) : statuses_(statuses) {}

  // One family: its help, type and a sample for each connection `value` gives one.
  template <typename ValueOf>
  void Family(const Metric& metric, ValueOf value) {
    text_ += std::string("# HELP ") + metric.name + " " + metric.help + "\n";
    text_ += std::string("# TYPE ") + metric.name + " gauge\n";
    for (const ConnectionStatus& status : statuses_) {
      if (const std::optional<double> sample = value(status)) {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", *sample);
        text_ += std::string(metric.name) + "{connection=\"" + LabelValue(status.name) + "\"} " +
                 number + "\n";
      }
    }
  }

  const std::string& text() const { return text_; }

 private:
  const std::vector<ConnectionStatus>& statuses_;
  std::string text_;
};

std::optional<double> FromRun(const ConnectionStatus& status, double (*field)(const HistoryRow&)) {
  return status.lastRun ? std::optional<double>(field(*status.lastRun)) : std::nullopt;
}

}  // namespace

std::string MetricsText(const std::vector<ConnectionStatus>& statuses) {
  Exposition out(statuses);
  out.Family(kLastRunTime, [](const ConnectionStatus& s) {
    return FromRun(s, [](const HistoryRow& r) { return static_cast<double>(r.endedAt); });
  });
  out.Family(kLastRunSuccess, [](const ConnectionStatus& s) {
    return FromRun(s, [](const HistoryRow& r) { return IsGoodRun(r) ? 1.0 : 0.0; });
  });
  out.Family(kLastSuccessTime, [](const ConnectionStatus& s) -> std::optional<double> {
    if (!s.lastGood) {
      return std::nullopt;
    }
    return static_cast<double>(ToUnixSeconds(*s.lastGood));
  });
  out.Family(kArchiveBytes, [](const ConnectionStatus& s) {
    return FromRun(s, [](const HistoryRow& r) { return static_cast<double>(r.archiveSize); });
  });
  out.Family(kRows, [](const ConnectionStatus& s) {
    return FromRun(s, [](const HistoryRow& r) { return static_cast<double>(r.rows); });
  });
  out.Family(kDuration, [](const ConnectionStatus& s) {
    return FromRun(s, [](const HistoryRow& r) { return static_cast<double>(r.durationMs) / 1000; });
  });
  out.Family(kChecked, [](const ConnectionStatus& s) -> std::optional<double> {
    if (!s.lastRun || !s.lastRun->archiveChecked) {
      return std::nullopt;
    }
    return *s.lastRun->archiveChecked ? 1.0 : 0.0;
  });
  out.Family(kVerified, [](const ConnectionStatus& s) -> std::optional<double> {
    if (!s.lastRun || s.lastRun->verified.empty()) {
      return std::nullopt;
    }
    return s.lastRun->verified == "verified" ? 1.0 : 0.0;
  });
  out.Family(kOffsite, [](const ConnectionStatus& s) -> std::optional<double> {
    if (s.offsite.empty()) {
      return std::nullopt;
    }
    return s.offsite == kOffsiteCopied ? 1.0 : 0.0;
  });
  out.Family(kPeriod, [](const ConnectionStatus& s) {
    return std::optional<double>(3600.0 * (s.periodHours < 0 ? -s.periodHours : s.periodHours));
  });
  out.Family(kArchivesKept,
             [](const ConnectionStatus& s) { return std::optional<double>(s.archivesKept); });
  out.Family(kStale,
             [](const ConnectionStatus& s) { return std::optional<double>(s.stale ? 1.0 : 0.0); });
  return out.text();
}

std::string LoadMetricsFile(SettingsStore& store) {
  return store.ReadText(settings::kMetricsFile);
}

std::optional<std::string> SaveMetricsFile(SettingsStore& store, const std::string& path) {
  std::string absolute;
  if (!path.empty()) {
    std::error_code error;
    absolute = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error || !std::filesystem::is_directory(FolderOf(absolute), error)) {
      return std::nullopt;
    }
  }
  store.WriteText(settings::kMetricsFile, absolute);
  return absolute;
}

std::string WriteMetricsFile(SettingsStore& store, const Clock& clock) {
  const std::string path = LoadMetricsFile(store);
  if (path.empty()) {
    return "";
  }
  const std::string text = MetricsText(ReadConnectionStatus(store, clock));
  PartFile part(path);
  int error = part.Open();
  for (std::size_t written = 0; error == 0 && written < text.size();) {
    const ssize_t n = ::write(part.fd(), text.data() + written, text.size() - written);
    if (n < 0) {
      error = errno;
    } else {
      written += static_cast<std::size_t>(n);
    }
  }
  // The node exporter reads the file as a user of its own, and it holds no
  // secret: names and figures.
  if (error == 0 && ::fchmod(part.fd(), 0644) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = part.Place();
  }
  return error == 0 ? "" : "metrics file " + path + ": " + std::strerror(error);
}

}  // namespace vaultwick
