#include "backup/dump_database.h"

#include <mysqld_error.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_constraints_internal.h"
#include "backup/dump_context_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_privileges_internal.h"
#include "backup/dump_sql_text_internal.h"
#include "backup/dump_stored_objects_internal.h"
#include "backup/dump_table_internal.h"

namespace vaultwick {
namespace {

// The dump's first lines: whatever the client's defaults, the text is read as
// utf8mb4, TIMESTAMP values (read in UTC) as UTC, and the rows under kSqlMode.
// Without autocommit a restore commits each table's rows at the next CREATE
// TABLE (and the last ones at kRowsEnd) instead of once per row: 2 million
// rows load in about 2 minutes instead of over an hour on a server that syncs
// every commit to disk. The database gets its default character set back,
// which every table and column that names none of its own takes.
std::string DumpHeader(const dump::DatabaseDefaults& database, bool checksOff) {
  std::string header = "SET NAMES utf8mb4;\nSET time_zone = '+00:00';\nSET sql_mode = '" +
                       std::string(dump::kSqlMode) + "';\nSET autocommit = 0;\n";
  if (checksOff) {
    header += dump::kChecksOff;
  }
  if (!database.collation.empty()) {
    header +=
        "ALTER DATABASE CHARACTER SET " + database.characterSet + " COLLATE " + database.collation;
    if (!database.comment.empty()) {
      header += " COMMENT ";
      dump::AppendQuotedText(header, database.comment);
    }
    header += ";\n";
  }
  return header;
}
constexpr char kRowsEnd[] = "COMMIT;\n";

// The reading session: the same zone and mode, and every table read from one
// consistent snapshot, so rows written during the dump (a child with its new
// parent) are in it together or not at all.
std::vector<std::string> SessionSetup() {
  return {"SET time_zone = '+00:00', sql_mode = '" + std::string(dump::kSqlMode) + "'",
          "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ",
          "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"};
}

class DatabaseDumper {
 public:
  DatabaseDumper(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                 const StopToken& stop)
      : context_(connection, dumpPath, status, stop) {}

  DumpOutcome Run() {
    if (!StartSession() || !ReadDatabase() || !DumpTables() || !DumpAfterRows()) {
      return context_.outcome();
    }
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
  // worthless, except for the constraints, whose failure is their own
  // (older servers have no CHECK constraints to list).
  bool ReadDatabase() {
    MYSQL* connection = context_.connection();
    dump::DatabaseDefaults database;
    if (!dump::ReadDatabaseDefaults(connection, &database) ||
        !dump::ReadTableList(connection, &tables_) || !dump::ReadTableTypes(connection, &tables_)) {
      context_.QueryFailed(nullptr);
      return false;
    }
    facts_.name = database.name;
    facts_.collation = database.collation;
    static const std::string kChecks = "CHECK constraints";
    if (!dump::ReadCheckConstraints(connection, &facts_.checks) &&
        mysql_errno(connection) != ER_UNKNOWN_TABLE && context_.QueryFailed(&kChecks)) {
      return false;
    }
    static const std::string kPrivileges = "privileges";
    if (!dump::ReadPrivileges(connection, facts_.name, &privileges_)) {
      if (context_.QueryFailed(&kPrivileges)) {
        return false;
      }
      // Reported once; the triggers and routines are not reported again.
      privileges_.triggersOfEveryTable = privileges_.everyRoutineListed = true;
    }
    static const std::string kForeignKeys = "foreign keys";
    if (!dump::ReadForeignKeys(connection, &foreignKeys_) && context_.QueryFailed(&kForeignKeys)) {
      return false;
    }
    checksOff_ = dump::TurnsChecksOff(connection, facts_.checks);
    context_.text() += DumpHeader(database, checksOff_);
    return true;
  }

  // Sequences first, since a table's default may take its values from one;
  // views come after all tables.
  bool DumpTables() {
    for (const dump::TableStatus& table : tables_) {
      if (table.type == "SEQUENCE" && !dump::DumpSequence(context_, table)) {
        return false;
      }
    }
    for (const dump::TableStatus& table : tables_) {
      if (table.type == "VIEW") {
        views_.push_back(&table);
      } else if (table.type != "SEQUENCE") {
        bool created = false;
        if (!dump::DumpTable(context_, table, facts_, &created)) {
          return false;
        }
        if (created) {
          written_.insert(table.name);
        }
      }
    }
    context_.text() += kRowsEnd;
    return true;
  }

  bool DumpAfterRows() {
    dump::AppendConstraints(context_.text(), foreignKeys_, facts_.checks, written_, checksOff_);
    return context_.AppendTextIfLong() && dump::DumpRoutines(context_, privileges_) &&
           context_.AppendTextIfLong() && dump::DumpViews(context_, views_) &&
           context_.AppendTextIfLong() && dump::DumpTriggers(context_, written_, privileges_) &&
           context_.AppendTextIfLong() && dump::DumpEvents(context_);
  }

  dump::DumpContext context_;
  std::vector<dump::TableStatus> tables_;
  dump::DatabaseFacts facts_;
  std::vector<dump::ForeignKey> foreignKeys_;
  std::vector<const dump::TableStatus*> views_;
  std::set<std::string> written_;
  bool checksOff_ = false;
  dump::DumpPrivileges privileges_;
};

}  // namespace

DumpOutcome DumpDatabase(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const StopToken& stop) {
  DatabaseDumper dumper(connection, dumpPath, status, stop);
  return dumper.Run();
}

}  // namespace vaultwick
