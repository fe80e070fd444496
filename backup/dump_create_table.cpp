#include "backup/dump_create_table_internal.h"

#include <strings.h>

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

void AppendColumnLine(std::string& text, const ColumnDefinition& column) {
  const ColumnExtra extra = ParseColumnExtra(column.extra);
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
  if (!extra.generatedKind.empty() && column.generationExpression) {
    text += " GENERATED ALWAYS AS (";
    text += *column.generationExpression;
    text += ") ";
    text += extra.generatedKind;
  }
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
  text += extra.clause;
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

ColumnExtra ParseColumnExtra(std::string_view extra) {
  ColumnExtra parsed;
  while (!extra.empty()) {
    std::size_t comma = extra.find(',');
    std::string_view item = Trimmed(extra.substr(0, comma));
    extra = comma == std::string_view::npos ? std::string_view() : extra.substr(comma + 1);
    // Expression defaults are written as such; the marker itself is no syntax.
    if (StartsWithNoCase(item, "DEFAULT_GENERATED"))
      item = Trimmed(item.substr(sizeof "DEFAULT_GENERATED" - 1));
    for (const char* kind : {"VIRTUAL", "STORED", "PERSISTENT"}) {
      if (EqualsNoCase(item, std::string(kind) + " GENERATED")) {
        parsed.generatedKind = kind;
        item = {};
      }
    }
    if (item.empty())
      continue;
    if (EqualsNoCase(item, "INVISIBLE"))
      parsed.invisible = true;
    if (!parsed.clause.empty())
      parsed.clause += ' ';
    parsed.clause += item;
  }
  return parsed;
}

bool IsFloatColumn(const ColumnDefinition& column) {
  return StartsWithNoCase(column.type, "float");
}

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
