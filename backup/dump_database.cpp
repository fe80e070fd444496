#include "backup/dump_database.h"

#include <string>
#include <vector>

#include "backup/dump_create_table_internal.h"
#include "backup/dump_file_appender_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_sql_text_internal.h"

namespace vaultwick {
namespace {

// The dump text goes to the file once it is longer than this, right after the
// INSERT statement that took it over, so every piece ends on a statement.
constexpr std::size_t kAppendThreshold = 1000000;

class TableDumper {
 public:
  TableDumper(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
              const DumpCancelFn& cancelRequested)
      : connection_(connection),
        file_(dumpPath),
        status_(status),
        cancelRequested_(cancelRequested) {
    text_.reserve(kAppendThreshold + (1 << 16));
  }

  DumpOutcome Run() {
    if (mysql_set_character_set(connection_, "utf8mb4") != 0)
      ++outcome_.failedQueries;
    std::vector<dump::TableStatus> tables;
    if (!dump::ReadTableList(connection_, &tables))
      ++outcome_.failedQueries;
    for (const dump::TableStatus& table : tables) {
      DumpTable(table);
      if (outcome_.writeFailed)
        return outcome_;
    }
    // The last piece, even when empty, so that the file exists.
    AppendText();
    return outcome_;
  }

 private:
  void Show(const std::string& text) {
    if (status_)
      status_(text.c_str());
  }

  void AppendText() {
    if (!file_.Append(text_))
      outcome_.writeFailed = true;
    text_.clear();
  }

  // Every metadata query runs before the rows are streamed: while a row
  // stream is open the connection can run nothing else.
  void DumpTable(const dump::TableStatus& table) {
    const std::string quotedName = dump::QuotedIdentifier(table.name);

    std::string query = "DESCRIBE " + quotedName;
    Show(query);
    if (!dump::ReadColumns(connection_, query, &columns_)) {
      ++outcome_.failedQueries;
      return;
    }
    if (!dump::MarkExpressionDefaults(connection_, table.name, &columns_)) {
      ++outcome_.failedQueries;
    }

    query = "SHOW KEYS FROM " + quotedName;
    Show(query);
    if (!dump::ReadIndexes(connection_, query, &indexes_)) {
      ++outcome_.failedQueries;
      indexes_.clear();
    }
    dump::AppendCreateTable(text_, table.name, table.autoIncrement, columns_, indexes_);

    query = "SELECT * FROM " + quotedName;
    Show(query);
    if (mysql_real_query(connection_, query.data(), static_cast<unsigned long>(query.size())) !=
        0) {
      ++outcome_.failedQueries;
      return;
    }
    dump::ResultPtr rows(mysql_use_result(connection_));
    if (!rows) {
      ++outcome_.failedQueries;
      return;
    }
    DumpRows(rows.get(), quotedName);
  }

  void DumpRows(MYSQL_RES* rows, const std::string& quotedName) {
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
      dump::AppendInsertStatement(text_, quotedName, row, mysql_fetch_lengths(rows), fieldCount);
      ++outcome_.rowsWritten;
      if (text_.size() > kAppendThreshold) {
        AppendText();
        if (outcome_.writeFailed)
          return;
      }
    }
    // A stream that ends with an error has lost its remaining rows.
    if (mysql_errno(connection_) != 0)
      ++outcome_.failedQueries;
  }

  MYSQL* connection_;
  dump::DumpFileAppender file_;
  const DumpStatusFn& status_;
  const DumpCancelFn& cancelRequested_;
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
