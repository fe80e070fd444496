#include "backup/dump_metadata_internal.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace vaultwick::dump {
namespace {

// MariaDB quotes literal defaults in information_schema from this version on.
constexpr unsigned long kFirstQuotingMariaDb = 100207;

ResultPtr StoreQuery(MYSQL* connection, const std::string& query) {
  if (mysql_real_query(connection, query.data(), static_cast<unsigned long>(query.size())) != 0) {
    return nullptr;
  }
  return ResultPtr(mysql_store_result(connection));
}

// Positions of a result's fields, looked up by name.
class FieldPositions {
 public:
  explicit FieldPositions(MYSQL_RES* result)
      : fields_(mysql_fetch_fields(result)), count_(mysql_num_fields(result)) {}

  // -1 when the result has no field of that name.
  int Find(const char* name) const {
    for (unsigned i = 0; i < count_; ++i) {
      if (strcasecmp(fields_[i].name, name) == 0)
        return static_cast<int>(i);
    }
    return -1;
  }

 private:
  const MYSQL_FIELD* fields_;
  unsigned count_;
};

// One fetched row with its lengths, read by field position.
class RowReader {
 public:
  RowReader(MYSQL_ROW row, const unsigned long* lengths) : row_(row), lengths_(lengths) {}

  std::optional<std::string> Optional(int position) const {
    if (position < 0 || row_[position] == nullptr)
      return std::nullopt;
    return std::string(row_[position], lengths_[position]);
  }
  std::string Text(int position) const { return Optional(position).value_or(std::string()); }

 private:
  MYSQL_ROW row_;
  const unsigned long* lengths_;
};

bool IsNumericLiteral(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    ++i;
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
  if (!digits)
    return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
      ++i;
    std::size_t exponentStart = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
      ++i;
    if (i == exponentStart)
      return false;
  }
  return i == text.size();
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size())
    return false;
  for (std::size_t start = 0; start + word.size() <= text.size(); ++start) {
    if (strncasecmp(text.data() + start, word.data(), word.size()) == 0)
      return true;
  }
  return false;
}

}  // namespace

bool ReadTableList(MYSQL* connection, std::vector<TableStatus>* tables) {
  tables->clear();
  ResultPtr result = StoreQuery(connection, "SHOW TABLE STATUS");
  if (!result)
    return false;
  FieldPositions fields(result.get());
  int name = fields.Find("Name");
  int autoIncrement = fields.Find("Auto_increment");
  if (name < 0)
    return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(row, mysql_fetch_lengths(result.get()));
    tables->push_back({reader.Text(name), reader.Optional(autoIncrement)});
  }
  return true;
}

bool ReadColumns(MYSQL* connection, const std::string& query,
                 std::vector<ColumnDefinition>* columns) {
  columns->clear();
  ResultPtr result = StoreQuery(connection, query);
  if (!result)
    return false;
  FieldPositions fields(result.get());
  int field = fields.Find("Field");
  int type = fields.Find("Type");
  int null = fields.Find("Null");
  int defaultValue = fields.Find("Default");
  int extra = fields.Find("Extra");
  if (field < 0 || type < 0)
    return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(row, mysql_fetch_lengths(result.get()));
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
  if (!result)
    return false;
  FieldPositions fields(result.get());
  int nonUnique = fields.Find("Non_unique");
  int keyName = fields.Find("Key_name");
  int seqInIndex = fields.Find("Seq_in_index");
  int columnName = fields.Find("Column_name");
  int subPart = fields.Find("Sub_part");
  int indexType = fields.Find("Index_type");
  if (keyName < 0 || seqInIndex < 0 || columnName < 0)
    return false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(row, mysql_fetch_lengths(result.get()));
    indexes->push_back({reader.Text(nonUnique), reader.Text(keyName), reader.Text(seqInIndex),
                        reader.Text(columnName), reader.Optional(subPart), reader.Text(indexType)});
  }
  return true;
}

bool IsQuotedStyleExpression(std::string_view columnDefault) {
  if (columnDefault.empty() || columnDefault.front() == '\'')
    return false;
  if (columnDefault == "NULL")
    return false;
  return !IsNumericLiteral(columnDefault);
}

bool MarkExpressionDefaults(MYSQL* connection, std::string_view tableName,
                            std::vector<ColumnDefinition>* columns) {
  std::string escapedName(tableName.size() * 2 + 1, '\0');
  escapedName.resize(mysql_real_escape_string(connection, escapedName.data(), tableName.data(),
                                              static_cast<unsigned long>(tableName.size())));
  ResultPtr result = StoreQuery(connection,
                                "SELECT COLUMN_NAME, COLUMN_DEFAULT, EXTRA FROM "
                                "information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
                                "AND TABLE_NAME = '" +
                                    escapedName + "'");
  if (!result)
    return false;

  const char* serverInfo = mysql_get_server_info(connection);
  bool quotesLiterals = serverInfo != nullptr && std::strstr(serverInfo, "MariaDB") != nullptr &&
                        mysql_get_server_version(connection) >= kFirstQuotingMariaDb;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(row, mysql_fetch_lengths(result.get()));
    std::string name = reader.Text(0);
    std::optional<std::string> columnDefault = reader.Optional(1);
    std::string extra = reader.Text(2);
    for (ColumnDefinition& column : *columns) {
      if (column.name != name || !column.defaultValue)
        continue;
      if (quotesLiterals) {
        column.defaultIsExpression = columnDefault && IsQuotedStyleExpression(*columnDefault);
      } else {
        // Other servers mark expression defaults in EXTRA, or (older ones)
        // allow no expression but the current timestamp.
        column.defaultIsExpression = ContainsNoCase(extra, "DEFAULT_GENERATED") ||
                                     ContainsNoCase(*column.defaultValue, "CURRENT_TIMESTAMP");
      }
    }
  }
  return true;
}

}  // namespace vaultwick::dump
