#include "backup/dump_database.h"

#include <mysqld_error.h>

#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_context_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_table_internal.h"

namespace vaultwick {
namespace {

// The mode the rows are read and loaded back under: not strict, so nothing the
// server holds is refused (an ENUM's invalid-value entry '', a date such as
// 2001-02-29 that the original mode allowed); NO_AUTO_VALUE_ON_ZERO, so an
// AUTO_INCREMENT value 0 stays 0; and without NO_BACKSLASH_ESCAPES or
// ANSI_QUOTES, which the dump's literals and identifiers rely on.
constexpr std::string_view kSqlMode = "NO_AUTO_VALUE_ON_ZERO,ALLOW_INVALID_DATES";

// The dump's first lines: whatever the client's defaults, the text is read as
// utf8mb4, TIMESTAMP values (read in UTC) as UTC, and the rows under kSqlMode.
// Without autocommit a restore commits each table's rows at the next CREATE
// TABLE (and the last ones at kRowsEnd) instead of once per row: 2 million
// rows load in about 2 minutes instead of over an hour on a server that syncs
// every commit to disk. The database gets its default character set back,
// which every table and column that names none of its own takes.
std::string DumpHeader(const std::string& characterSet, const std::string& collation) {
  std::string header = "SET NAMES utf8mb4;\nSET time_zone = '+00:00';\nSET sql_mode = '" +
                       std::string(kSqlMode) + "';\nSET autocommit = 0;\n";
  if (!collation.empty())
    header += "ALTER DATABASE CHARACTER SET " + characterSet + " COLLATE " + collation + ";\n";
  return header;
}
constexpr char kRowsEnd[] = "COMMIT;\n";

// The reading session: the same zone and mode, and every table read from one
// consistent snapshot, so rows written during the dump (a child with its new
// parent) are in it together or not at all.
std::vector<std::string> SessionSetup() {
  return {"SET time_zone = '+00:00', sql_mode = '" + std::string(kSqlMode) + "'",
          "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ",
          "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"};
}

class DatabaseDumper {
 public:
  DatabaseDumper(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                 const DumpCancelFn& cancelRequested)
      : context_(connection, dumpPath, status, cancelRequested) {}

  DumpOutcome Run() {
    if (!StartSession() || !ReadDatabase())
      return context_.outcome();
    for (const dump::TableStatus& table : tables_) {
      if (!dump::DumpTable(context_, table, facts_))
        return context_.outcome();
    }
    context_.text() += kRowsEnd;
    // Every row is read; ending the read-only transaction cannot lose any.
    context_.Run("ROLLBACK");
    context_.AppendText();
    return context_.outcome();
  }

 private:
  bool StartSession() {
    MYSQL* connection = context_.connection();
    if (mysql_set_character_set(connection, "utf8mb4") != 0) {
      context_.QueryFailed(nullptr);
      return false;
    }
    for (const std::string& query : SessionSetup()) {
      if (!context_.Run(query)) {
        context_.QueryFailed(nullptr);
        return false;
      }
    }
    return true;
  }

  // What the dump needs of the database as a whole; without it the dump is
  // worthless, except for CHECK constraints, which older servers lack.
  bool ReadDatabase() {
    MYSQL* connection = context_.connection();
    std::string characterSet;
    if (!dump::ReadDatabaseDefaults(connection, &characterSet, &facts_.collation) ||
        !dump::ReadTableList(connection, &tables_) || !dump::ReadTableTypes(connection, &tables_)) {
      context_.QueryFailed(nullptr);
      return false;
    }
    if (!dump::ReadCheckConstraints(connection, &facts_.checks) &&
        mysql_errno(connection) != ER_UNKNOWN_TABLE) {
      static const std::string kWhat = "CHECK constraints";
      if (context_.QueryFailed(&kWhat))
        return false;
    }
    context_.text() += DumpHeader(characterSet, facts_.collation);
    return true;
  }

  dump::DumpContext context_;
  std::vector<dump::TableStatus> tables_;
  dump::DatabaseFacts facts_;
};

}  // namespace

DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const DumpCancelFn& cancelRequested) {
  DatabaseDumper dumper(connection, dumpPath, status, cancelRequested);
  return dumper.Run();
}

}  // namespace vaultwick
