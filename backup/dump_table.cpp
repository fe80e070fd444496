#include "backup/dump_table_internal.h"

#include "backup/dump_create_table_internal.h"
#include "backup/dump_enum_members_internal.h"
#include "backup/dump_row_query_internal.h"

namespace vaultwick::dump {
namespace {

// A column's own CHECK constraint is part of its definition.
void AddColumnChecks(const std::string& table, const std::vector<CheckConstraint>& checks,
                     std::vector<ColumnDefinition>* columns) {
  for (const CheckConstraint& check : checks) {
    if (!check.columnLevel || check.table != table) {
      continue;
    }
    for (ColumnDefinition& column : *columns) {
      if (column.name == check.name) {
        column.check = check.clause;
      }
    }
  }
}

// The server names the database in some expressions (a default taking the
// next value of a sequence); a restore into another database must use its own.
void RemoveOwnDatabaseName(const std::string& database, std::vector<ColumnDefinition>* columns) {
  const std::string qualifier = QuotedIdentifier(database) + ".";
  for (ColumnDefinition& column : *columns) {
    if (!column.defaultIsExpression || !column.defaultValue) {
      continue;
    }
    std::string& value = *column.defaultValue;
    for (std::size_t at; (at = value.find(qualifier)) != std::string::npos;) {
      value.erase(at, qualifier.size());
    }
  }
}

TableOptions OptionsOf(const TableStatus& table, const DatabaseFacts& database) {
  TableOptions options;
  options.engine = table.engine;
  options.collation = table.collation;
  options.databaseCollation = database.collation;
  options.createOptions = table.createOptions;
  options.comment = table.comment;
  options.systemVersioning = table.type == "SYSTEM VERSIONED";
  return options;
}

bool IsPartitioned(const TableStatus& table) {
  std::size_t found = table.createOptions.find("partitioned");
  return found != std::string::npos && (found == 0 || table.createOptions[found - 1] == ' ');
}

bool DumpRows(DumpContext& context, MYSQL_RES* rows, const RowQuery& query,
              const TableStatus& table) {
  // The SELECT's own field count, not the column list's, bounds the row
  // arrays (they differ only if the table changed in between).
  const unsigned fieldCount = mysql_num_fields(rows);
  while (MYSQL_ROW row = mysql_fetch_row(rows)) {
    if (context.StopRequested()) {
      // Releasing an open row stream reads the rest of the table; cut the
      // connection first so the release is immediate.
      mariadb_cancel(context.connection());
      context.outcome().stopped = true;
      return false;
    }
    if (!AppendInsertStatement(context.text(), query.insertHead, row, mysql_fetch_lengths(rows),
                               fieldCount, query.hexValues, kAppendThreshold, context.flush())) {
      return false;
    }
    ++context.outcome().rowsWritten;
    if (!context.AppendTextIfLong()) {
      return false;
    }
  }
  // A stream that ends with an error has lost its remaining rows.
  if (mysql_errno(context.connection()) != 0) {
    return !context.QueryFailed(&table.name);
  }
  context.text() += query.afterRows;
  return true;
}

}  // namespace

// Every metadata query runs before the rows are streamed: while a row stream
// is open the connection can run nothing else.
bool DumpTable(DumpContext& context, const TableStatus& table, const DatabaseFacts& database,
               bool* created) {
  MYSQL* connection = context.connection();
  const std::string quotedName = QuotedIdentifier(table.name);
  *created = false;

  std::string query = "DESCRIBE " + quotedName;
  context.Show(query);
  std::vector<ColumnDefinition> columns;
  if (!ReadColumns(connection, query, &columns)) {
    return !context.QueryFailed(&table.name);
  }
  if (!ReadColumnDetails(connection, table, &columns) && context.QueryFailed(&table.name)) {
    return false;
  }
  ReadExactMembers(connection, quotedName, &columns);
  AddColumnChecks(table.name, database.checks, &columns);
  RemoveOwnDatabaseName(database.name, &columns);

  query = "SHOW KEYS FROM " + quotedName;
  context.Show(query);
  std::vector<IndexColumn> indexes;
  if (!ReadIndexes(connection, query, &indexes)) {
    if (context.QueryFailed(&table.name)) {
      return false;
    }
    indexes.clear();
  }

  TableOptions options = OptionsOf(table, database);
  if (IsPartitioned(table) && !ReadPartitioning(connection, quotedName, &options.partitioning) &&
      context.QueryFailed(&table.name)) {
    return false;
  }
  AppendCreateTable(context.text(), table.name, table.autoIncrement, columns, indexes, options);
  *created = true;

  const RowQuery rowQuery = MakeRowQuery(quotedName, columns, table.type == "SYSTEM VERSIONED");
  // A SELECT that names the columns would leave out unnoticed those the
  // login may not read; a table read whole fails on them.
  if (rowQuery.namesColumns && !CanSelectAll(connection, quotedName)) {
    return !context.QueryFailed(&table.name);
  }
  context.Show(rowQuery.select);
  if (!context.Run(rowQuery.select)) {
    return !context.QueryFailed(&table.name);
  }
  ResultPtr rows(mysql_use_result(connection));
  if (!rows) {
    return !context.QueryFailed(&table.name);
  }
  context.text() += rowQuery.beforeRows;
  return DumpRows(context, rows.get(), rowQuery, table);
}

}  // namespace vaultwick::dump
