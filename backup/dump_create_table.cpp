#include "backup/dump_create_table_internal.h"

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

void AppendColumnLine(std::string& text, const ColumnDefinition& column) {
  text += "\n\t";
  AppendQuotedIdentifier(text, column.name);
  text += ' ';
  text += column.type;
  if (column.null != "YES")
    text += " NOT NULL";
  // An empty default reads the same as none in DESCRIBE, so neither gets a clause.
  if (column.defaultValue && !column.defaultValue->empty()) {
    const std::string& value = *column.defaultValue;
    if (column.defaultIsExpression) {
      text += " DEFAULT ";
      text += value;
    } else {
      text += " DEFAULT '";
      AppendEscapedValue(text, value.data(), value.size());
      text += '\'';
    }
  }
  text += ' ';
  text += column.extra;
  text += ',';
}

void AppendIndexColumn(std::string& text, const IndexColumn& index) {
  AppendQuotedIdentifier(text, index.columnName);
  if (index.subPart && !index.subPart->empty()) {
    text += '(';
    text += *index.subPart;
    text += ')';
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
    } else {
      text += "\n\tKEY ";
    }
    AppendQuotedIdentifier(text, index.keyName);
    text += " (";
  }
  AppendIndexColumn(text, index);
}

}  // namespace

void AppendCreateTable(std::string& text, std::string_view tableName,
                       const std::optional<std::string>& autoIncrement,
                       const std::vector<ColumnDefinition>& columns,
                       const std::vector<IndexColumn>& indexes) {
  text += "CREATE TABLE ";
  AppendQuotedIdentifier(text, tableName);
  text += '(';
  for (const ColumnDefinition& column : columns)
    AppendColumnLine(text, column);

  const std::string* previousKey = nullptr;
  for (const IndexColumn& index : indexes) {
    if (previousKey != nullptr && *previousKey != index.keyName)
      text += "),";
    previousKey = &index.keyName;
    if (index.seqInIndex == "1") {
      AppendIndexOpening(text, index);
    } else {
      text += ',';
      AppendIndexColumn(text, index);
    }
  }
  if (!indexes.empty())
    text += "),";

  // Every column line and index clause ends in a comma; the last one goes.
  if (!text.empty() && text.back() == ',')
    text.pop_back();
  text += "\n)";
  if (autoIncrement) {
    text += " AUTO_INCREMENT=";
    text += *autoIncrement;
  }
  text += ";\n";
}

}  // namespace vaultwick::dump
