#include "backup/dump_database.h"

#include <errmsg.h>
#include <mysqld_error.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_create_table_internal.h"
#include "backup/dump_file_appender_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_row_query_internal.h"
#include "backup/dump_sql_text_internal.h"

namespace vaultwick {
namespace {

// The dump text goes to the file once it is longer than this, right after the
// INSERT statement that took it over, so every piece ends on a statement
// (only a statement longer than this is itself written in pieces).
constexpr std::size_t kAppendThreshold = 1000000;

// The mode the rows are read and loaded back under: not strict, so nothing the
// server holds is refused (an ENUM's invalid-value entry '', a date such as
// 2001-02-29 that the original mode allowed); NO_AUTO_VALUE_ON_ZERO, so an
// AUTO_INCREMENT value 0 stays 0; and without NO_BACKSLASH_ESCAPES or
// ANSI_QUOTES, which the dump's literals and identifiers rely on.
constexpr std::string_view kSqlMode = "NO_AUTO_VALUE_ON_ZERO,ALLOW_INVALID_DATES";

// The dump's first lines: whatever the client's defaults, the text is read as
// utf8mb4, TIMESTAMP values (read in UTC) as UTC, and the rows under kSqlMode.
// Without autocommit a restore commits each table's rows at the next CREATE
// TABLE (and the last ones at kDumpTrailer) instead of once per row: 2 million
// rows load in about 2 minutes instead of over an hour on a server that syncs
// every commit to disk.
std::string DumpHeader() {
  return "SET NAMES utf8mb4;\nSET time_zone = '+00:00';\nSET sql_mode = '" + std::string(kSqlMode) +
         "';\nSET autocommit = 0;\n";
}
constexpr char kDumpTrailer[] = "COMMIT;\n";

// The reading session: the same zone and mode, and every table read from one
// consistent snapshot, so rows written during the dump (a child with its new
// parent) are in it together or not at all.
std::vector<std::string> SessionSetup() {
  return {"SET time_zone = '+00:00', sql_mode = '" + std::string(kSqlMode) + "'",
          "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ",
          "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"};
}

// MySQL's "client idle too long" error (MariaDB has no such code).
constexpr unsigned kMySqlClientInteractionTimeout = 4031;

// Errors after which the connection cannot be used again: every error the
// client library raises itself (server gone, connection lost, read timeout,
// out of memory, out of sync) and the server's own words for a connection it
// is closing.
bool IsConnectionError(unsigned code) {
  if ((code >= CR_MIN_ERROR && code <= CR_MAX_ERROR) ||
      (code >= CER_MIN_ERROR && code <= CER_MAX_ERROR)) {
    return true;
  }
  switch (code) {
    case ER_SERVER_SHUTDOWN:
    case ER_ABORTING_CONNECTION:
    case ER_NET_PACKET_TOO_LARGE:
    case ER_NET_READ_ERROR_FROM_PIPE:
    case ER_NET_FCNTL_ERROR:
    case ER_NET_PACKETS_OUT_OF_ORDER:
    case ER_NET_UNCOMPRESS_ERROR:
    case ER_NET_READ_ERROR:
    case ER_NET_READ_INTERRUPTED:
    case ER_NET_ERROR_ON_WRITE:
    case ER_NET_WRITE_INTERRUPTED:
    case ER_NEW_ABORTING_CONNECTION:
    case ER_CONNECTION_KILLED:
    case kMySqlClientInteractionTimeout:
      return true;
    default:
      return false;
  }
}

bool RunQuery(MYSQL* connection, const std::string& query) {
  return mysql_real_query(connection, query.data(), static_cast<unsigned long>(query.size())) == 0;
}

class TableDumper {
 public:
  TableDumper(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
              const DumpCancelFn& cancelRequested)
      : connection_(connection),
        file_(dumpPath),
        status_(status),
        cancelRequested_(cancelRequested),
        flush_([this] { return AppendText(); }) {
    text_.reserve(kAppendThreshold + (1 << 16));
  }

  DumpOutcome Run() {
    if (!StartSession())
      return outcome_;
    text_ += DumpHeader();
    std::vector<dump::TableStatus> tables;
    if (!dump::ReadTableList(connection_, &tables)) {
      QueryFailed(nullptr);
      return outcome_;
    }
    for (const dump::TableStatus& table : tables) {
      if (!DumpTable(table))
        return outcome_;
    }
    // Every row is read; ending the read-only transaction cannot lose any.
    RunQuery(connection_, "ROLLBACK");
    text_ += kDumpTrailer;
    AppendText();
    return outcome_;
  }

 private:
  void Show(const std::string& text) {
    if (status_)
      status_(text.c_str());
  }

  bool AppendText() {
    if (!file_.Append(text_)) {
      outcome_.writeFailed = true;
      outcome_.cause = std::strerror(file_.error());
    }
    text_.clear();
    return !outcome_.writeFailed;
  }

  bool StartSession() {
    if (mysql_set_character_set(connection_, "utf8mb4") != 0) {
      QueryFailed(nullptr);
      return false;
    }
    for (const std::string& query : SessionSetup()) {
      if (!RunQuery(connection_, query)) {
        QueryFailed(nullptr);
        return false;
      }
    }
    return true;
  }

  // Records the failure of the last query, of `table`'s own queries or (for
  // nullptr) of the dump as a whole. True when the dump must stop: the
  // connection is gone, or what failed was not one table's.
  bool QueryFailed(const dump::TableStatus* table) {
    ++outcome_.failedQueries;
    const unsigned code = mysql_errno(connection_);
    const std::string text = code != 0 ? mysql_error(connection_) : "unexpected answer from server";
    const bool fatal = table == nullptr || IsConnectionError(code);
    // The cause is the first failure, unless a later one ended the dump.
    if (outcome_.cause.empty() || fatal)
      outcome_.cause = text;
    if (fatal) {
      outcome_.serverLost = true;
      return true;
    }
    if (outcome_.failedTables.empty() || outcome_.failedTables.back() != table->name)
      outcome_.failedTables.push_back(table->name);
    return false;
  }

  // Every metadata query runs before the rows are streamed: while a row
  // stream is open the connection can run nothing else. False when the dump
  // must stop.
  bool DumpTable(const dump::TableStatus& table) {
    const std::string quotedName = dump::QuotedIdentifier(table.name);

    std::string query = "DESCRIBE " + quotedName;
    Show(query);
    if (!dump::ReadColumns(connection_, query, &columns_))
      return !QueryFailed(&table);
    if (!dump::ReadColumnDetails(connection_, table, &columns_) && QueryFailed(&table))
      return false;

    query = "SHOW KEYS FROM " + quotedName;
    Show(query);
    if (!dump::ReadIndexes(connection_, query, &indexes_)) {
      if (QueryFailed(&table))
        return false;
      indexes_.clear();
    }
    dump::AppendCreateTable(text_, table.name, table.autoIncrement, columns_, indexes_);

    const dump::RowQuery rowQuery = dump::MakeRowQuery(quotedName, columns_);
    if (rowQuery.namesColumns && !CanReadEveryColumn(quotedName))
      return !QueryFailed(&table);
    Show(rowQuery.select);
    if (!RunQuery(connection_, rowQuery.select))
      return !QueryFailed(&table);
    dump::ResultPtr rows(mysql_use_result(connection_));
    if (!rows)
      return !QueryFailed(&table);
    return DumpRows(rows.get(), rowQuery, table);
  }

  // A column the login may not read is missing from DESCRIBE; SELECT * still
  // fails on it, as it does for a table read whole.
  bool CanReadEveryColumn(const std::string& quotedName) {
    if (!RunQuery(connection_, "SELECT * FROM " + quotedName + " LIMIT 0"))
      return false;
    dump::ResultPtr empty(mysql_store_result(connection_));
    return empty != nullptr;
  }

  bool DumpRows(MYSQL_RES* rows, const dump::RowQuery& query, const dump::TableStatus& table) {
    // The SELECT's own field count, not the column list's, bounds the row
    // arrays (they differ only if the table changed in between).
    const unsigned fieldCount = mysql_num_fields(rows);
    while (MYSQL_ROW row = mysql_fetch_row(rows)) {
      if (cancelRequested_ && cancelRequested_()) {
        // Releasing an open row stream reads the rest of the table; cut the
        // connection first so the release is immediate.
        mariadb_cancel(connection_);
        throw kCancelSignal;
      }
      if (!dump::AppendInsertStatement(text_, query.insertHead, row, mysql_fetch_lengths(rows),
                                       fieldCount, kAppendThreshold, flush_)) {
        return false;
      }
      ++outcome_.rowsWritten;
      if (text_.size() > kAppendThreshold && !AppendText())
        return false;
    }
    // A stream that ends with an error has lost its remaining rows.
    if (mysql_errno(connection_) != 0)
      return !QueryFailed(&table);
    return true;
  }

  MYSQL* connection_;
  dump::DumpFileAppender file_;
  const DumpStatusFn& status_;
  const DumpCancelFn& cancelRequested_;
  const dump::FlushFn flush_;
  DumpOutcome outcome_;
  std::string text_;
  std::vector<dump::ColumnDefinition> columns_;
  std::vector<dump::IndexColumn> indexes_;
};

}  // namespace

DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const DumpCancelFn& cancelRequested) {
  TableDumper dumper(connection, dumpPath, status, cancelRequested);
  return dumper.Run();
}

}  // namespace vaultwick
