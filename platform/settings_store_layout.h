#pragma once

// Every value the settings store keeps: the name it is stored under, its type
// and what a reader gets when it is missing (also what a new connection
// starts with). These names appear nowhere else.
//
//   Connections  one row per connection: Name (unique without regard to
//                letter case, kept as typed), Host, Login, Password,
//                Database, Start, Period, VerifyRestore, ArchivePassword,
//                SecretsIn ('keyring': both passwords are in the desktop
//                keyring and their columns are empty; else NULL), Tls (the
//                mode's name), TlsCa (the CA file of the verifying modes),
//                KeepHourly, KeepDaily, KeepWeekly, KeepMonthly,
//                Encrypt (1: new archives are encrypted under ArchivePassword)
//   Settings     one row per program-wide value: SaveTo, PasswordsIn, MetricsFile,
//                OffsiteRemote, OffsiteConfig, AlertWebhook, AlertWebhookHeaders,
//                AlertCommand, AlertWhen, AlertTimeLimit
//   History      one row per job (columns in settings_store.cpp)
//   OffsiteCopies  one row per archive copied, or to be copied, to a remote
//                (columns in settings_store_offsite.cpp)
//   ScheduledRuns  one row per connection and hour whose scheduled run has
//                started, so that two schedulers on one store start it once
//   StaleAlerts  one row per connection the stale-backup alerts watch: since
//                when, and when the last alert went, so that two schedulers
//                send it once

#include <cstdint>
#include <string_view>

namespace vaultwick {

enum class SettingType { Text, Integer };

struct SettingDefinition {
  std::string_view storedName;
  SettingType type;
  std::string_view defaultText;  // for Text
  std::int64_t defaultInteger;   // for Integer
};

namespace settings {

// Values of one connection, columns of Connections in this order.
inline constexpr SettingDefinition kHost{"Host", SettingType::Text, "Host Name", 0};
inline constexpr SettingDefinition kLogin{"Login", SettingType::Text, "Login", 0};
inline constexpr SettingDefinition kPassword{"Password", SettingType::Text, "", 0};
inline constexpr SettingDefinition kDatabase{"Database", SettingType::Text, "Database", 0};
inline constexpr SettingDefinition kStart{"Start", SettingType::Integer, "", 0};
inline constexpr SettingDefinition kPeriod{"Period", SettingType::Integer, "", 1};
// The scratch database a test restore of each new archive goes into; empty:
// no test restore (it doubles the load a backup puts on the server).
inline constexpr SettingDefinition kVerifyRestore{"VerifyRestore", SettingType::Text, "", 0};
inline constexpr SettingDefinition kArchivePassword{"ArchivePassword", SettingType::Text, "", 0};
// How the connection asks for TLS (ParseTlsMode), and the CA file that the
// verifying modes check the server's certificate against; empty: the system's.
inline constexpr SettingDefinition kTls{"Tls", SettingType::Text, "preferred", 0};
inline constexpr SettingDefinition kTlsCa{"TlsCa", SettingType::Text, "", 0};
// How many restore points the connection keeps of each kind, newest first:
// the last of each hour, day, week (Monday to Sunday) and month.
inline constexpr SettingDefinition kKeepHourly{"KeepHourly", SettingType::Integer, "", 0};
inline constexpr SettingDefinition kKeepDaily{"KeepDaily", SettingType::Integer, "", 7};
inline constexpr SettingDefinition kKeepWeekly{"KeepWeekly", SettingType::Integer, "", 4};
inline constexpr SettingDefinition kKeepMonthly{"KeepMonthly", SettingType::Integer, "", 6};
// Whether new archives are encrypted. The password stays when this is turned
// off: the archives made with it still need it.
inline constexpr SettingDefinition kEncrypt{"Encrypt", SettingType::Integer, "", 0};

// Program-wide values, rows of Settings.
inline constexpr SettingDefinition kSaveTo{"SaveTo", SettingType::Text, "", 0};
// Where each run writes the metrics of every connection for the node
// exporter's textfile collector; empty: nowhere.
inline constexpr SettingDefinition kMetricsFile{"MetricsFile", SettingType::Text, "", 0};
// Where every archive is also copied, in rclone's notation
// ("remote:bucket/path"); empty: nowhere. And rclone's configuration file
// for it; empty: rclone's own default.
inline constexpr SettingDefinition kOffsiteRemote{"OffsiteRemote", SettingType::Text, "", 0};
inline constexpr SettingDefinition kOffsiteConfig{"OffsiteConfig", SettingType::Text, "", 0};
// Where alerts go: a URL that takes a POST of JSON (with extra header lines,
// "Name: value" one a line), and a command line that /bin/sh runs with the
// facts in its environment; empty: not there. When: "failures" or "always".
// The time limit, in seconds, bounds sending one alert, retries included.
inline constexpr SettingDefinition kAlertWebhook{"AlertWebhook", SettingType::Text, "", 0};
inline constexpr SettingDefinition kAlertWebhookHeaders{"AlertWebhookHeaders", SettingType::Text,
                                                        "", 0};
inline constexpr SettingDefinition kAlertCommand{"AlertCommand", SettingType::Text, "", 0};
inline constexpr SettingDefinition kAlertWhen{"AlertWhen", SettingType::Text, "failures", 0};
inline constexpr SettingDefinition kAlertTimeLimit{"AlertTimeLimit", SettingType::Text, "10", 0};
// How many scheduled backups run at once, at most (a whole number).
inline constexpr SettingDefinition kMaxParallel{"MaxParallel", SettingType::Text, "2", 0};
// Where passwords are kept: "keyring" (the desktop keyring wherever one is
// open, else the file) or "store" (always the file).
inline constexpr SettingDefinition kPasswordsIn{"PasswordsIn", SettingType::Text, "keyring", 0};
inline constexpr std::string_view kPasswordsInKeyring = "keyring";
inline constexpr std::string_view kPasswordsInStore = "store";

// The connection's own name, the key of Connections.
inline constexpr std::string_view kConnectionName = "Name";
// Where a connection's passwords are, and the value that marks the keyring.
inline constexpr std::string_view kSecretsIn = "SecretsIn";
inline constexpr std::string_view kSecretsInKeyring = "keyring";

}  // namespace settings
}  // namespace vaultwick
