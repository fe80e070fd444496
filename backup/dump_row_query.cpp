#include "backup/dump_row_query_internal.h"

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {

RowQuery MakeRowQuery(std::string_view quotedTable, const std::vector<ColumnDefinition>& columns) {
  bool insertNamesColumns = false;
  bool selectNamesColumns = false;
  for (const ColumnDefinition& column : columns) {
    const ColumnExtra extra = ParseColumnExtra(column.extra);
    insertNamesColumns = insertNamesColumns || extra.invisible || !extra.generatedKind.empty();
    selectNamesColumns = selectNamesColumns || IsFloatColumn(column);
  }
  selectNamesColumns = selectNamesColumns || insertNamesColumns;

  RowQuery query;
  query.namesColumns = selectNamesColumns;
  query.insertHead = "INSERT INTO ";
  query.insertHead += quotedTable;
  if (!selectNamesColumns) {
    query.select = "SELECT * FROM ";
    query.select += quotedTable;
    query.insertHead += " VALUES(";
    return query;
  }

  std::string selectList;
  std::string insertList;
  for (const ColumnDefinition& column : columns) {
    // The server computes generated columns; it refuses values for them.
    if (!ParseColumnExtra(column.extra).generatedKind.empty())
      continue;
    if (!selectList.empty()) {
      selectList += ',';
      insertList += ',';
    }
    const std::string name = QuotedIdentifier(column.name);
    // A float widened to a double is exact, and a double's text has every
    // digit needed to read back the same float.
    selectList += IsFloatColumn(column) ? "CAST(" + name + " AS DOUBLE)" : name;
    insertList += name;
  }
  query.select = "SELECT " + selectList + " FROM ";
  query.select += quotedTable;
  query.insertHead += insertNamesColumns ? " (" + insertList + ") VALUES(" : " VALUES(";
  return query;
}

}  // namespace vaultwick::dump
