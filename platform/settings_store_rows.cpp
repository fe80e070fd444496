#include "platform/settings_store.h"

// The rows of the settings store: connections, program-wide values, history.

#include <string>

#include "platform/settings_store_statement_internal.h"

namespace vaultwick {
namespace {

// The columns of Connections after Name, each bound to its field of
// ConnectionRow: a text of its login, another text, or an integer.
struct ConnectionColumn {
  const SettingDefinition& setting;
  std::string ServerLogin::*loginText;
  std::string ConnectionRow::*text;
  std::int64_t ConnectionRow::*integer;
  bool secret = false;  // empty in the file while the row's passwords are in the keyring
};
const ConnectionColumn kConnectionColumns[] = {
    {settings::kHost, &ServerLogin::host, nullptr, nullptr},
    {settings::kLogin, &ServerLogin::login, nullptr, nullptr},
    {settings::kPassword, &ServerLogin::password, nullptr, nullptr, true},
    {settings::kDatabase, &ServerLogin::database, nullptr, nullptr},
    {settings::kStart, nullptr, nullptr, &ConnectionRow::start},
    {settings::kPeriod, nullptr, nullptr, &ConnectionRow::period},
    {settings::kVerifyRestore, nullptr, &ConnectionRow::verifyRestore, nullptr},
    {settings::kArchivePassword, nullptr, &ConnectionRow::archivePassword, nullptr, true},
    {settings::kKeepHourly, nullptr, nullptr, &ConnectionRow::keepHourly},
    {settings::kKeepDaily, nullptr, nullptr, &ConnectionRow::keepDaily},
    {settings::kKeepWeekly, nullptr, nullptr, &ConnectionRow::keepWeekly},
    {settings::kKeepMonthly, nullptr, nullptr, &ConnectionRow::keepMonthly},
    {settings::kEncrypt, nullptr, nullptr, &ConnectionRow::encryptArchives},
};

// The text field of `row` that `column` is bound to; null for an integer.
template <class Row>
auto* TextField(Row& row, const ConnectionColumn& column) {
  return column.loginText != nullptr ? &(row.server.*column.loginText)
         : column.text != nullptr    ? &(row.*column.text)
                                     : nullptr;
}

// The columns after those of kConnectionColumns, in this order.
std::string TrailingColumns() {
  return ", " + Quoted(settings::kSecretsIn) + ", " + Quoted(settings::kTls.storedName) + ", " +
         Quoted(settings::kTlsCa.storedName);
}
constexpr int kTrailingColumns = 3;

// A mode this program does not know (a newer one's) reads as the strictest:
// refusing a server is better than talking to it in the clear.
TlsMode StoredTlsMode(const std::optional<std::string>& text) {
  return ParseTlsMode(text.value_or(std::string(settings::kTls.defaultText)))
      .value_or(TlsMode::VerifyIdentity);
}

// "SELECT "Name", "Host", ..., "SecretsIn", "Tls", "TlsCa" FROM Connections"
std::string SelectConnectionSql() {
  std::string sql = "SELECT " + Quoted(settings::kConnectionName);
  for (const ConnectionColumn& column : kConnectionColumns) {
    sql += ", " + Quoted(column.setting.storedName);
  }
  return sql + TrailingColumns() + " FROM Connections WHERE " + Quoted(settings::kConnectionName) +
         " = ?1";
}

// "INSERT OR IGNORE INTO Connections("Name", "Host", ..., "TlsCa") VALUES(?1, ?2, ...)"
std::string InsertConnectionSql() {
  std::string columns = Quoted(settings::kConnectionName);
  std::string values = "?1";
  int index = 1;
  for (const ConnectionColumn& column : kConnectionColumns) {
    columns += ", " + Quoted(column.setting.storedName);
    values += ", ?" + std::to_string(++index);
  }
  columns += TrailingColumns();
  for (int i = 0; i < kTrailingColumns; ++i) {
    values += ", ?" + std::to_string(++index);
  }
  return "INSERT OR IGNORE INTO Connections(" + columns + ") VALUES(" + values + ")";
}

// History columns in the order of HistoryRow after its id.
constexpr const char* kHistoryColumns =
    "Connection, StartedBy, StartedAt, EndedAt, Result, EndText, Cause, ArchiveSize, Rows, "
    "DurationMs, ArchiveChecked, Verified, VerifyDetail, Pruned, Offsite, OffsiteDetail";

}  // namespace

std::vector<std::string> SettingsStore::ConnectionNames() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::string name = Quoted(settings::kConnectionName);
  StoreStatement select(db_, path_,
                        "SELECT " + name + " FROM Connections ORDER BY " + name +
                            " COLLATE NOCASE, " + name + " COLLATE BINARY");
  std::vector<std::string> names;
  while (select.Step()) {
    names.push_back(select.Text(0).value_or(""));
  }
  return names;
}

std::optional<ConnectionRow> SettingsStore::ReadStoredConnection(std::string_view name,
                                                                 bool* inKeyring) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement select(db_, path_, SelectConnectionSql());
  select.Bind(1, name);
  if (!select.Step()) {
    return std::nullopt;
  }
  ConnectionRow row;
  row.name = select.Text(0).value_or("");
  int index = 0;
  for (const ConnectionColumn& column : kConnectionColumns) {
    ++index;
    if (std::string* text = TextField(row, column)) {
      *text = select.Text(index).value_or(std::string(column.setting.defaultText));
    } else {
      row.*column.integer = select.Integer(index).value_or(column.setting.defaultInteger);
    }
  }
  *inKeyring = select.Text(index + 1) == settings::kSecretsInKeyring;
  row.server.tls.mode = StoredTlsMode(select.Text(index + 2));
  row.server.tls.caFile =
      select.Text(index + 3).value_or(std::string(settings::kTlsCa.defaultText));
  return row;
}

bool SettingsStore::InsertConnection(const ConnectionRow& row) {
  if (!row.secretsUnavailable.empty()) {
    Fail(row.secretsUnavailable + "; nothing was changed");
  }
  bool inserted = false;
  WriteTransaction([&] {
    bool ignored = false;
    if (ReadStoredConnection(row.name, &ignored)) {
      return;
    }
    // Into the keyring first: the file then never holds the passwords, not
    // even in its log.
    const bool inKeyring = keyring_ != nullptr && WantKeyring() &&
                           keyring_->State() == KeyringState::Open && StoreInKeyring(row);
    StoreStatement insert(db_, path_, InsertConnectionSql());
    insert.Bind(1, row.name);
    int index = 1;
    for (const ConnectionColumn& column : kConnectionColumns) {
      ++index;
      if (column.secret && inKeyring) {
        insert.Bind(index, std::string_view());
      } else if (const std::string* text = TextField(row, column)) {
        insert.Bind(index, *text);
      } else {
        insert.Bind(index, row.*column.integer);
      }
    }
    if (inKeyring) {
      insert.Bind(index + 1, settings::kSecretsInKeyring);
    }
    insert.Bind(index + 2, TlsModeText(row.server.tls.mode));
    insert.Bind(index + 3, row.server.tls.caFile);
    insert.Step();
    inserted = sqlite3_changes(db_) > 0;
  });
  return inserted;
}

bool SettingsStore::DeleteConnection(std::string_view name) {
  bool deleted = false;
  WriteTransaction([&] {
    bool inKeyring = false;
    std::optional<ConnectionRow> row = ReadStoredConnection(name, &inKeyring);
    StoreStatement remove(
        db_, path_, "DELETE FROM Connections WHERE " + Quoted(settings::kConnectionName) + " = ?1");
    remove.Bind(1, name);
    remove.Step();
    deleted = sqlite3_changes(db_) > 0;
    if (row && inKeyring) {
      forget_.push_back(row->name);
    }
  });
  return deleted;
}

std::string SettingsStore::ReadText(const SettingDefinition& setting) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement select(db_, path_, "SELECT Value FROM Settings WHERE Name = ?1");
  select.Bind(1, setting.storedName);
  std::optional<std::string> value;
  if (select.Step()) {
    value = select.Text(0);
  }
  return value.value_or(std::string(setting.defaultText));
}

void SettingsStore::WriteText(const SettingDefinition& setting, std::string_view value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement upsert(db_, path_, "INSERT OR REPLACE INTO Settings(Name, Value) VALUES(?1, ?2)");
  upsert.Bind(1, setting.storedName).Bind(2, value);
  upsert.Step();
}

bool SettingsStore::ClaimScheduledRun(std::string_view connection, std::int64_t hour) {
  constexpr std::int64_t kKeptHours = 48;
  bool claimed = false;
  WriteTransaction([&] {
    StoreStatement claim(db_, path_,
                         "INSERT OR IGNORE INTO ScheduledRuns(Connection, Hour) VALUES(?1, ?2)");
    claim.Bind(1, connection).Bind(2, hour);
    claim.Step();
    claimed = sqlite3_changes(db_) > 0;
    StoreStatement prune(db_, path_, "DELETE FROM ScheduledRuns WHERE Hour < ?1");
    prune.Bind(1, hour - kKeptHours);
    prune.Step();
  });
  return claimed;
}

std::int64_t SettingsStore::WatchForStaleAlert(std::string_view connection, std::int64_t now) {
  std::optional<std::int64_t> since;
  WriteTransaction([&] {
    StoreStatement watch(
        db_, path_, "INSERT OR IGNORE INTO StaleAlerts(Connection, WatchedSince) VALUES(?1, ?2)");
    watch.Bind(1, connection).Bind(2, now);
    watch.Step();
    StoreStatement select(db_, path_, "SELECT WatchedSince FROM StaleAlerts WHERE Connection = ?1");
    select.Bind(1, connection);
    if (select.Step()) {
      since = select.Integer(0);
    }
  });
  return since.value_or(now);
}

bool SettingsStore::ClaimStaleAlert(std::string_view connection, std::int64_t now,
                                    std::int64_t every) {
  bool claimed = false;
  WriteTransaction([&] {
    StoreStatement claim(
        db_, path_,
        "INSERT INTO StaleAlerts(Connection, WatchedSince, SentAt) VALUES(?1, ?2, ?2)"
        " ON CONFLICT(Connection) DO UPDATE SET SentAt = ?2"
        " WHERE SentAt IS NULL OR SentAt <= ?2 - ?3");
    claim.Bind(1, connection).Bind(2, now).Bind(3, every);
    claim.Step();
    claimed = sqlite3_changes(db_) > 0;
  });
  return claimed;
}

void SettingsStore::ForgetStaleAlert(std::string_view connection) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement forget(db_, path_, "DELETE FROM StaleAlerts WHERE Connection = ?1");
  forget.Bind(1, connection);
  forget.Step();
}

void SettingsStore::AppendHistory(const HistoryRow& row) {
  WriteTransaction([&] {
    StoreStatement insert(db_, path_,
                          std::string("INSERT INTO History(") + kHistoryColumns +
                              ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11,"
                              " ?12, ?13, ?14, ?15, ?16)");
    insert.Bind(1, row.connection).Bind(2, row.startedBy).Bind(3, row.startedAt);
    insert.Bind(4, row.endedAt).Bind(5, row.result).Bind(6, row.endText).Bind(7, row.cause);
    insert.Bind(8, row.archiveSize).Bind(9, row.rows).Bind(10, row.durationMs);
    if (row.archiveChecked) {
      insert.Bind(11, std::int64_t{*row.archiveChecked ? 1 : 0});
    }
    insert.Bind(12, row.verified).Bind(13, row.verifyDetail).Bind(14, row.pruned);
    insert.Bind(15, row.offsite).Bind(16, row.offsiteDetail);
    insert.Step();
    StoreStatement prune(db_, path_, "DELETE FROM History WHERE Id <= ?1");
    prune.Bind(1, sqlite3_last_insert_rowid(db_) - kHistoryRowsKept);
    prune.Step();
  });
}

std::vector<HistoryRow> SettingsStore::ReadHistory(std::string_view connection, int limit) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement select(db_, path_,
                        std::string("SELECT Id, ") + kHistoryColumns +
                            " FROM History WHERE ?1 = '' OR Connection = ?1 COLLATE NOCASE"
                            " ORDER BY Id DESC LIMIT ?2");
  select.Bind(1, connection).Bind(2, static_cast<std::int64_t>(limit));
  std::vector<HistoryRow> rows;
  while (select.Step()) {
    HistoryRow row;
    row.id = select.Integer(0).value_or(0);
    row.connection = select.Text(1).value_or("");
    row.startedBy = select.Text(2).value_or("");
    row.startedAt = select.Integer(3).value_or(0);
    row.endedAt = select.Integer(4).value_or(0);
    row.result = select.Text(5).value_or("");
    row.endText = select.Text(6).value_or("");
    row.cause = select.Text(7).value_or("");
    row.archiveSize = select.Integer(8).value_or(0);
    row.rows = select.Integer(9).value_or(0);
    row.durationMs = select.Integer(10).value_or(0);
    if (std::optional<std::int64_t> checked = select.Integer(11)) {
      row.archiveChecked = *checked != 0;
    }
    row.verified = select.Text(12).value_or("");
    row.verifyDetail = select.Text(13).value_or("");
    row.pruned = select.Text(14).value_or("");
    row.offsite = select.Text(15).value_or("");
    row.offsiteDetail = select.Text(16).value_or("");
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace vaultwick
