#pragma once

// What the dump asks the server about the database: the table list, each
// table's columns and indexes, and which column defaults are expressions.
// Every answer is read whole (mysql_store_result) and fields are found by
// name, so servers that add or move fields are read correctly.

#include <mysql.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_create_table_internal.h"

namespace vaultwick::dump {

struct ResultDeleter {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
using ResultPtr = std::unique_ptr<MYSQL_RES, ResultDeleter>;

struct TableStatus {
  std::string name;
  std::optional<std::string> autoIncrement;  // next auto-increment value, when the table has one
};

// "SHOW TABLE STATUS", in the server's order. False when the query fails.
bool ReadTableList(MYSQL* connection, std::vector<TableStatus>* tables);

// Runs `query` (a DESCRIBE) and reads the column list. False when it fails.
bool ReadColumns(MYSQL* connection, const std::string& query,
                 std::vector<ColumnDefinition>* columns);

// Runs `query` (a SHOW KEYS) and reads the index list. False when it fails.
bool ReadIndexes(MYSQL* connection, const std::string& query, std::vector<IndexColumn>* indexes);

// DESCRIBE shows literal and expression defaults alike; information_schema
// tells them apart. Sets defaultIsExpression on the columns whose default is
// an expression. False when the query fails (the defaults then stay literals).
bool MarkExpressionDefaults(MYSQL* connection, std::string_view tableName,
                            std::vector<ColumnDefinition>* columns);

// How a default shows in information_schema.COLUMNS.COLUMN_DEFAULT on servers
// that quote literals: quoted text and bare numbers are literals, NULL is no
// default, anything else (current_timestamp(), b'101', (1 + 1)) an expression.
bool IsQuotedStyleExpression(std::string_view columnDefault);

}  // namespace vaultwick::dump
