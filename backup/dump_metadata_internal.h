#pragma once

// What the dump asks the server about the database: the table list, each
// table's columns and indexes, and the column details only information_schema
// holds (expression defaults, generation expressions, collations).
// Every answer is read whole (mysql_store_result) and fields are found by
// name, so servers that add or move fields are read correctly.

#include <mysql.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_create_table_internal.h"
#include "backup/dump_result_internal.h"

namespace vaultwick::dump {

struct TableStatus {
  std::string name;
  std::optional<std::string> autoIncrement;  // next auto-increment value, when the table has one
  std::string collation;                     // the table's default collation
  std::string engine;
  std::string createOptions;  // "row_format=COMPACT partitioned", as SHOW TABLE STATUS has them
  std::string comment;
  // information_schema's TABLE_TYPE: "BASE TABLE", "VIEW", "SEQUENCE" or
  // "SYSTEM VERSIONED" (SHOW TABLE STATUS lists them all alike).
  std::string type;
};

// "SHOW TABLE STATUS", in the server's order. False when the query fails.
bool ReadTableList(MYSQL* connection, std::vector<TableStatus>* tables);

// Sets the type of each table from information_schema.TABLES. False when the
// query fails.
bool ReadTableTypes(MYSQL* connection, std::vector<TableStatus>* tables);

// The selected database's name, default character set and collation, and
// comment. False when the query fails; all stay empty when no database is
// selected.
struct DatabaseDefaults {
  std::string name;
  std::string characterSet;
  std::string collation;
  std::string comment;
};
bool ReadDatabaseDefaults(MYSQL* connection, DatabaseDefaults* defaults);

// The PARTITION BY clause of a partitioned table, as the server's own CREATE
// TABLE statement ends with it. False when the query fails.
bool ReadPartitioning(MYSQL* connection, const std::string& quotedTable, std::string* clause);

// Whether SELECT * of the table or view `quotedName` runs: it fails on a
// column the login may not read (which DESCRIBE leaves out without a word),
// and on a view whose table or column was dropped. Reads no rows.
bool CanSelectAll(MYSQL* connection, const std::string& quotedName);

// One CHECK constraint: a table's own, or one column's (a JSON column's).
struct CheckConstraint {
  std::string table;
  std::string name;  // the column's name for a column's own constraint
  std::string clause;
  bool columnLevel = false;
};

// Every CHECK constraint of the selected database, by table in the server's
// order. False when the query fails; servers without CHECK constraints have
// no such table, and fail with ER_UNKNOWN_TABLE.
bool ReadCheckConstraints(MYSQL* connection, std::vector<CheckConstraint>* checks);

// Runs `query` (a DESCRIBE) and reads the column list. False when it fails.
bool ReadColumns(MYSQL* connection, const std::string& query,
                 std::vector<ColumnDefinition>* columns);

// Runs `query` (a SHOW KEYS) and reads the index list. False when it fails.
bool ReadIndexes(MYSQL* connection, const std::string& query, std::vector<IndexColumn>* indexes);

// Completes what DESCRIBE said about the columns of `table` from
// information_schema: which defaults are expressions (DESCRIBE shows literal
// and expression defaults alike, and shows BLOB and TEXT literals quoted),
// the expression of each generated column, and the character set and
// collation of each column whose collation differs from the table's. False
// when the query fails (the columns then stay as DESCRIBE gave them).
bool ReadColumnDetails(MYSQL* connection, const TableStatus& table,
                       std::vector<ColumnDefinition>* columns);

// How a default shows in information_schema.COLUMNS.COLUMN_DEFAULT on servers
// that quote literals: quoted text and bare numbers are literals, NULL is no
// default, anything else (current_timestamp(), b'101', (1 + 1)) an expression.
bool IsQuotedStyleExpression(std::string_view columnDefault);

// The bytes of a quoted literal as the server prints one ('it\'s' gives
// it's): the quotes go, each backslash escape and each doubled quote becomes
// its byte. nullopt when the text is not a quoted literal.
std::optional<std::string> UnquotedLiteral(std::string_view quoted);

}  // namespace vaultwick::dump
