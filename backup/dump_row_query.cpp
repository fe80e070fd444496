#include "backup/dump_row_query_internal.h"

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {

bool NeedsHexValues(std::string_view characterSet) {
  // Sets whose every value has a utf8mb4 form and comes back from it unchanged.
  for (const char* lossless : {"", "utf8mb4", "utf8mb3", "utf8", "latin1", "ascii", "binary",
                               "ucs2", "utf16", "utf16le", "utf32"}) {
    if (characterSet == lossless) {
      return false;
    }
  }
  return true;
}

RowQuery MakeRowQuery(std::string_view quotedTable, const std::vector<ColumnDefinition>& columns,
                      bool systemVersioned) {
  // The periods of a versioned table: its own columns, or hidden ones.
  const ColumnDefinition* rowStart = nullptr;
  for (const ColumnDefinition& column : columns) {
    if (IsRowStartOrEnd(column) && *column.generationExpression == "ROW START") {
      rowStart = &column;
    }
  }
  const bool history =
      systemVersioned && (rowStart == nullptr || StartsWithNoCase(rowStart->type, "timestamp"));

  bool insertNamesColumns = history;
  bool selectNamesColumns = history;
  for (const ColumnDefinition& column : columns) {
    const ColumnExtra extra = ParseColumnExtra(column.extra);
    insertNamesColumns = insertNamesColumns || extra.invisible || !extra.generatedKind.empty();
    selectNamesColumns =
        selectNamesColumns || IsFloatColumn(column) || NeedsHexValues(column.valueCharacterSet);
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
  auto add = [&](const std::string& name, const std::string& selected, bool hex) {
    if (!selectList.empty()) {
      selectList += ',';
      insertList += ',';
    }
    selectList += selected;
    insertList += name;
    query.hexValues.push_back(hex);
  };
  for (const ColumnDefinition& column : columns) {
    const std::string name = QuotedIdentifier(column.name);
    if (IsRowStartOrEnd(column)) {
      if (history) {
        add(name, name, false);
      }
      // The server computes generated columns; it refuses values for them.
    } else if (ParseColumnExtra(column.extra).generatedKind.empty()) {
      const bool hex = NeedsHexValues(column.valueCharacterSet);
      // A float widened to a double is exact, and a double's text has every
      // digit needed to read back the same float.
      add(name,
          IsFloatColumn(column) ? "CAST(" + name + " AS DOUBLE)"
          : hex                 ? "CAST(" + name + " AS BINARY)"
                                : name,
          hex);
    }
  }
  if (history && rowStart == nullptr) {
    add("`row_start`", "`row_start`", false);
    add("`row_end`", "`row_end`", false);
  }
  query.select = "SELECT " + selectList + " FROM ";
  query.select += quotedTable;
  query.insertHead += insertNamesColumns ? " (" + insertList + ") VALUES(" : " VALUES(";
  if (history) {
    query.select += " FOR SYSTEM_TIME ALL";
    query.beforeRows = "SET system_versioning_insert_history = 1;\n";
    query.afterRows = "SET system_versioning_insert_history = 0;\n";
  }
  return query;
}

}  // namespace vaultwick::dump
