#include "backup/dump_metadata_internal.h"

#include <strings.h>

#include <cctype>

#include "server/server_query.h"

namespace vaultwick::dump {
namespace {

// MariaDB quotes literal defaults in information_schema from this version on.
constexpr unsigned long kFirstQuotingMariaDb = 100207;

bool IsNumericLiteral(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits) {
    return false;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
      ++i;
    }
    std::size_t exponentStart = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
    }
    if (i == exponentStart) {
      return false;
    }
  }
  return i == text.size();
}

bool IsBlobOrText(const ColumnDefinition& column) {
  const std::string_view type = column.type;
  for (std::string_view kind : {"blob", "text"}) {
    if (type.size() >= kind.size() &&
        strncasecmp(type.data() + type.size() - kind.size(), kind.data(), kind.size()) == 0) {
      return true;
    }
  }
  return false;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) {
    return false;
  }
  for (std::size_t start = 0; start + word.size() <= text.size(); ++start) {
    if (strncasecmp(text.data() + start, word.data(), word.size()) == 0) {
      return true;
    }
  }
  return false;
}

// The byte that a backslash followed by `letter` stands for in a literal.
char UnescapedByte(char letter) {
  switch (letter) {
    case '0':
      return '\0';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'b':
      return '\b';
    case 'Z':
      return '\x1A';
    default:
      return letter;
  }
}

}  // namespace

bool ReadTableList(MYSQL* connection, std::vector<TableStatus>* tables) {
  tables->clear();
  ResultPtr result = StoreQuery(connection, "SHOW TABLE STATUS");
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  int name = fields.Find("Name");
  int autoIncrement = fields.Find("Auto_increment");
  int collation = fields.Find("Collation");
  int engine = fields.Find("Engine");
  int createOptions = fields.Find("Create_options");
  int comment = fields.Find("Comment");
  if (name < 0) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    TableStatus table;
    table.name = reader.Text(name);
    table.autoIncrement = reader.Optional(autoIncrement);
    table.collation = reader.Text(collation);
    table.engine = reader.Text(engine);
    table.createOptions = reader.Text(createOptions);
    table.comment = reader.Text(comment);
    tables->push_back(std::move(table));
  }
  return true;
}

bool ReadTableTypes(MYSQL* connection, std::vector<TableStatus>* tables) {
  ResultPtr result = StoreQuery(connection,
                                "SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES "
                                "WHERE TABLE_SCHEMA = DATABASE()");
  if (!result) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    const std::string name = reader.Text(0);
    for (TableStatus& table : *tables) {
      if (table.name == name) {
        table.type = reader.Text(1);
      }
    }
  }
  return true;
}

bool ReadDatabaseDefaults(MYSQL* connection, DatabaseDefaults* defaults) {
  // Every field, found by name: older servers have no comment.
  ResultPtr result = StoreQuery(
      connection, "SELECT * FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = DATABASE()");
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  if (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    defaults->name = reader.Text(fields.Find("SCHEMA_NAME"));
    defaults->characterSet = reader.Text(fields.Find("DEFAULT_CHARACTER_SET_NAME"));
    defaults->collation = reader.Text(fields.Find("DEFAULT_COLLATION_NAME"));
    defaults->comment = reader.Text(fields.Find("SCHEMA_COMMENT"));
  }
  return true;
}

bool ReadPartitioning(MYSQL* connection, const std::string& quotedTable, std::string* clause) {
  clause->clear();
  ResultPtr result = StoreQuery(connection, "SHOW CREATE TABLE " + quotedTable);
  if (!result) {
    return false;
  }
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || mysql_num_fields(result.get()) < 2) {
    return false;
  }
  const std::string statement = RowReader(result.get(), row).Text(1);
  // The column list closes on a line of its own that carries the table
  // options; the partitioning is everything after that line. No line inside
  // the column list starts with ')': the server escapes line feeds in texts.
  std::size_t close = statement.find("\n)");
  std::size_t lineEnd = close == std::string::npos ? close : statement.find('\n', close + 1);
  if (lineEnd == std::string::npos) {
    return true;
  }
  std::size_t start = statement.find_first_not_of(' ', lineEnd + 1);
  if (start != std::string::npos) {
    *clause = statement.substr(start);
  }
  return true;
}

bool CanSelectAll(MYSQL* connection, const std::string& quotedName) {
  return StoreQuery(connection, "SELECT * FROM " + quotedName + " LIMIT 0") != nullptr;
}

bool ReadCheckConstraints(MYSQL* connection, std::vector<CheckConstraint>* checks) {
  checks->clear();
  ResultPtr result = StoreQuery(connection,
                                "SELECT * FROM information_schema.CHECK_CONSTRAINTS "
                                "WHERE CONSTRAINT_SCHEMA = DATABASE() "
                                "ORDER BY TABLE_NAME, CONSTRAINT_NAME");
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  const int table = fields.Find("TABLE_NAME");
  const int name = fields.Find("CONSTRAINT_NAME");
  const int clause = fields.Find("CHECK_CLAUSE");
  const int level = fields.Find("LEVEL");  // absent where every check is the table's
  if (table < 0 || name < 0 || clause < 0) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    checks->push_back({reader.Text(table), reader.Text(name), reader.Text(clause),
                       reader.Text(level) == "Column"});
  }
  return true;
}

bool ReadColumns(MYSQL* connection, const std::string& query,
                 std::vector<ColumnDefinition>* columns) {
  columns->clear();
  ResultPtr result = StoreQuery(connection, query);
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  int field = fields.Find("Field");
  int type = fields.Find("Type");
  int null = fields.Find("Null");
  int defaultValue = fields.Find("Default");
  int extra = fields.Find("Extra");
  if (field < 0 || type < 0) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    ColumnDefinition column;
    column.name = reader.Text(field);
    column.type = reader.Text(type);
    column.null = reader.Text(null);
    column.defaultValue = reader.Optional(defaultValue);
    column.extra = reader.Text(extra);
    columns->push_back(std::move(column));
  }
  return true;
}

bool ReadIndexes(MYSQL* connection, const std::string& query, std::vector<IndexColumn>* indexes) {
  indexes->clear();
  ResultPtr result = StoreQuery(connection, query);
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  int nonUnique = fields.Find("Non_unique");
  int keyName = fields.Find("Key_name");
  int seqInIndex = fields.Find("Seq_in_index");
  int columnName = fields.Find("Column_name");
  int subPart = fields.Find("Sub_part");
  int indexType = fields.Find("Index_type");
  int collation = fields.Find("Collation");
  int comment = fields.Find("Index_comment");
  int ignored = fields.Find("Ignored");
  if (keyName < 0 || seqInIndex < 0 || columnName < 0) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    IndexColumn index;
    index.nonUnique = reader.Text(nonUnique);
    index.keyName = reader.Text(keyName);
    index.seqInIndex = reader.Text(seqInIndex);
    index.columnName = reader.Text(columnName);
    index.subPart = reader.Optional(subPart);
    index.indexType = reader.Text(indexType);
    index.collation = reader.Text(collation);
    index.comment = reader.Text(comment);
    index.ignored = reader.Text(ignored);
    indexes->push_back(std::move(index));
  }
  return true;
}

bool IsQuotedStyleExpression(std::string_view columnDefault) {
  if (columnDefault.empty() || columnDefault.front() == '\'') {
    return false;
  }
  if (columnDefault == "NULL") {
    return false;
  }
  return !IsNumericLiteral(columnDefault);
}

std::optional<std::string> UnquotedLiteral(std::string_view quoted) {
  if (quoted.size() < 2 || quoted.front() != '\'' || quoted.back() != '\'') {
    return std::nullopt;
  }
  quoted = quoted.substr(1, quoted.size() - 2);
  std::string bytes;
  bytes.reserve(quoted.size());
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    char c = quoted[i];
    bool hasNext = i + 1 < quoted.size();
    if (c == '\\' && hasNext) {
      c = UnescapedByte(quoted[++i]);
    } else if (c == '\'' && hasNext && quoted[i + 1] == '\'') {
      ++i;
    }
    bytes += c;
  }
  return bytes;
}

bool ReadColumnDetails(MYSQL* connection, const TableStatus& table,
                       std::vector<ColumnDefinition>* columns) {
  std::string escapedName(table.name.size() * 2 + 1, '\0');
  escapedName.resize(mysql_real_escape_string(connection, escapedName.data(), table.name.data(),
                                              static_cast<unsigned long>(table.name.size())));
  // Every field, found by name: older servers lack some (and then have no
  // generated columns either).
  ResultPtr result = StoreQuery(connection,
                                "SELECT * FROM information_schema.COLUMNS "
                                "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = '" +
                                    escapedName + "'");
  if (!result) {
    return false;
  }
  FieldPositions fields(result.get());
  const int name = fields.Find("COLUMN_NAME");
  const int columnDefault = fields.Find("COLUMN_DEFAULT");
  const int extra = fields.Find("EXTRA");
  const int generation = fields.Find("GENERATION_EXPRESSION");
  const int characterSet = fields.Find("CHARACTER_SET_NAME");
  const int collation = fields.Find("COLLATION_NAME");
  const int comment = fields.Find("COLUMN_COMMENT");
  if (name < 0) {
    return false;
  }

  bool quotesLiterals =
      IsMariaDb(connection) && mysql_get_server_version(connection) >= kFirstQuotingMariaDb;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    const std::string columnName = reader.Text(name);
    for (ColumnDefinition& column : *columns) {
      if (column.name != columnName) {
        continue;
      }
      if (std::optional<std::string> expression = reader.Optional(generation);
          expression && !expression->empty()) {
        column.generationExpression = std::move(expression);
      }
      if (std::optional<std::string> collationName = reader.Optional(collation);
          collationName && *collationName != table.collation) {
        column.characterSet = reader.Text(characterSet);
        column.collation = std::move(*collationName);
      }
      column.comment = reader.Text(comment);
      column.valueCharacterSet = reader.Text(characterSet);
      if (!column.defaultValue) {
        continue;
      }
      std::optional<std::string> defaultText = reader.Optional(columnDefault);
      if (quotesLiterals) {
        column.defaultIsExpression = defaultText && IsQuotedStyleExpression(*defaultText);
        // DESCRIBE shows the literal default of a BLOB or TEXT column quoted;
        // information_schema quotes every literal, so it alone is unambiguous.
        if (std::optional<std::string> literal =
                defaultText ? UnquotedLiteral(*defaultText) : std::nullopt) {
          column.defaultValue = std::move(literal);
          column.defaultIsEmptyText = column.defaultValue->empty();
        } else if (defaultText && IsNumericLiteral(*defaultText) && IsBlobOrText(column)) {
          // These keep a default as it was written: a number quoted would
          // come back as text.
          column.defaultValue = std::move(defaultText);
          column.defaultIsExpression = true;
        }
      } else {
        // These servers show no default as NULL, so an empty text is one.
        column.defaultIsEmptyText = defaultText && defaultText->empty();
        // Other servers mark expression defaults in EXTRA, or (older ones)
        // allow no expression but the current timestamp.
        column.defaultIsExpression = ContainsNoCase(reader.Text(extra), "DEFAULT_GENERATED") ||
                                     ContainsNoCase(*column.defaultValue, "CURRENT_TIMESTAMP");
      }
    }
  }
  return true;
}

}  // namespace vaultwick::dump
