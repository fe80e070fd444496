#include "backup/dump_create_table_internal.h"

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

// Appends one more attribute to a line that may already end in a space.
void AppendAttribute(std::string& text, std::string_view attribute) {
  if (text.back() != ' ') {
    text += ' ';
  }
  text += attribute;
}

void AppendColumnLine(std::string& text, const ColumnDefinition& column) {
  const ColumnExtra extra = ParseColumnExtra(column.extra);
  const bool rowStartOrEnd = IsRowStartOrEnd(column);
  text += "\n\t";
  AppendQuotedIdentifier(text, column.name);
  text += ' ';
  text += column.type;
  if (!column.collation.empty()) {
    text += " CHARACTER SET ";
    text += column.characterSet;
    text += " COLLATE ";
    text += column.collation;
  }
  if (rowStartOrEnd) {
    text += " GENERATED ALWAYS AS ";
    text += *column.generationExpression;
  } else if (!extra.generatedKind.empty() && column.generationExpression) {
    text += " GENERATED ALWAYS AS (";
    text += *column.generationExpression;
    text += ") ";
    text += extra.generatedKind;
  }
  if (column.null != "YES" && !rowStartOrEnd) {
    text += " NOT NULL";
  }
  // An empty default reads the same as none in DESCRIBE: only information_schema's
  // word makes it a clause.
  if (column.defaultValue && (!column.defaultValue->empty() || column.defaultIsEmptyText)) {
    const std::string& value = *column.defaultValue;
    text += " DEFAULT ";
    if (column.defaultIsExpression) {
      text += value;
    } else {
      AppendQuotedText(text, value);
    }
  }
  text += ' ';
  text += extra.clause;
  if (!column.comment.empty()) {
    AppendAttribute(text, "COMMENT ");
    AppendQuotedText(text, column.comment);
  }
  if (!column.check.empty()) {
    AppendAttribute(text, "CHECK (" + column.check + ")");
  }
  text += ',';
}

void AppendIndexColumn(std::string& text, const IndexColumn& index) {
  AppendQuotedIdentifier(text, index.columnName);
  // A spatial index always covers the whole value; the server still shows a length.
  if (index.subPart && !index.subPart->empty() && index.indexType != "SPATIAL") {
    text += '(';
    text += *index.subPart;
    text += ')';
  }
  if (index.collation == "D") {
    text += " DESC";
  }
}

void AppendIndexOpening(std::string& text, const IndexColumn& index) {
  if (index.keyName == "PRIMARY") {
    text += "\n\tPRIMARY KEY (";
  } else {
    if (index.nonUnique == "0") {
      text += "\n\tUNIQUE KEY ";
    } else if (index.indexType == "FULLTEXT") {
      text += "\n\tFULLTEXT ";
    } else if (index.indexType == "SPATIAL") {
      text += "\n\tSPATIAL KEY ";
    } else {
      text += "\n\tKEY ";
    }
    AppendQuotedIdentifier(text, index.keyName);
    text += " (";
  }
  AppendIndexColumn(text, index);
}

// Closes the index that `first` opened, with what the server says of the
// index as a whole. A MEMORY table's indexes are hashed unless they say BTREE.
void AppendIndexClosing(std::string& text, const IndexColumn& first, std::string_view engine) {
  text += ')';
  if (first.indexType == "HASH") {
    text += " USING HASH";
  } else if (first.indexType == "BTREE" && EqualsNoCase(engine, "MEMORY")) {
    text += " USING BTREE";
  }
  if (!first.comment.empty()) {
    text += " COMMENT ";
    AppendQuotedText(text, first.comment);
  }
  if (first.ignored == "YES") {
    text += " IGNORED";
  }
  text += ',';
}

void AppendTableOptions(std::string& text, const TableOptions& options) {
  if (!options.engine.empty() && !EqualsNoCase(options.engine, "InnoDB")) {
    text += " ENGINE=";
    text += options.engine;
  }
  // The collation names its character set too.
  if (!options.collation.empty() && options.collation != options.databaseCollation) {
    text += " COLLATE=";
    text += options.collation;
  }
  std::string_view createOptions = options.createOptions;
  while (!createOptions.empty()) {
    std::size_t space = createOptions.find(' ');
    std::string_view option = createOptions.substr(0, space);
    createOptions =
        space == std::string_view::npos ? std::string_view() : createOptions.substr(space + 1);
    // The partitioning is written whole, below.
    if (!option.empty() && option != "partitioned") {
      text += ' ';
      text += option;
    }
  }
  if (!options.comment.empty()) {
    text += " COMMENT=";
    AppendQuotedText(text, options.comment);
  }
  if (options.systemVersioning) {
    text += " WITH SYSTEM VERSIONING";
  }
  if (!options.partitioning.empty()) {
    text += '\n';
    text += options.partitioning;
  }
}

}  // namespace

ColumnExtra ParseColumnExtra(std::string_view extra) {
  ColumnExtra parsed;
  while (!extra.empty()) {
    std::size_t comma = extra.find(',');
    std::string_view item = Trimmed(extra.substr(0, comma));
    extra = comma == std::string_view::npos ? std::string_view() : extra.substr(comma + 1);
    // Expression defaults are written as such; the marker itself is no syntax.
    if (StartsWithNoCase(item, "DEFAULT_GENERATED")) {
      item = Trimmed(item.substr(sizeof "DEFAULT_GENERATED" - 1));
    }
    for (const char* kind : {"VIRTUAL", "STORED", "PERSISTENT"}) {
      if (EqualsNoCase(item, std::string(kind) + " GENERATED")) {
        parsed.generatedKind = kind;
        item = {};
      }
    }
    if (item.empty()) {
      continue;
    }
    if (EqualsNoCase(item, "INVISIBLE")) {
      parsed.invisible = true;
    }
    if (!parsed.clause.empty()) {
      parsed.clause += ' ';
    }
    parsed.clause += item;
  }
  return parsed;
}

bool IsFloatColumn(const ColumnDefinition& column) {
  return StartsWithNoCase(column.type, "float");
}

bool IsRowStartOrEnd(const ColumnDefinition& column) {
  return column.generationExpression &&
         (*column.generationExpression == "ROW START" || *column.generationExpression == "ROW END");
}

void AppendCreateTable(std::string& text, std::string_view tableName,
                       const std::optional<std::string>& autoIncrement,
                       const std::vector<ColumnDefinition>& columns,
                       const std::vector<IndexColumn>& indexes, const TableOptions& options) {
  text += "CREATE TABLE ";
  AppendQuotedIdentifier(text, tableName);
  text += '(';
  const ColumnDefinition* rowStart = nullptr;
  const ColumnDefinition* rowEnd = nullptr;
  for (const ColumnDefinition& column : columns) {
    AppendColumnLine(text, column);
    if (IsRowStartOrEnd(column)) {
      (*column.generationExpression == "ROW START" ? rowStart : rowEnd) = &column;
    }
  }

  const IndexColumn* opening = nullptr;
  for (const IndexColumn& index : indexes) {
    if (opening != nullptr && opening->keyName != index.keyName) {
      AppendIndexClosing(text, *opening, options.engine);
    }
    if (index.seqInIndex == "1" || opening == nullptr || opening->keyName != index.keyName) {
      opening = &index;
      AppendIndexOpening(text, index);
    } else {
      text += ',';
      AppendIndexColumn(text, index);
    }
  }
  if (opening != nullptr) {
    AppendIndexClosing(text, *opening, options.engine);
  }

  if (rowStart != nullptr && rowEnd != nullptr) {
    text += "\n\tPERIOD FOR SYSTEM_TIME(";
    AppendQuotedIdentifier(text, rowStart->name);
    text += ", ";
    AppendQuotedIdentifier(text, rowEnd->name);
    text += "),";
  }

  // Every column line and index clause ends in a comma; the last one goes.
  if (!text.empty() && text.back() == ',') {
    text.pop_back();
  }
  text += "\n)";
  if (autoIncrement) {
    text += " AUTO_INCREMENT=";
    text += *autoIncrement;
  }
  AppendTableOptions(text, options);
  text += ";\n";
}

}  // namespace vaultwick::dump
