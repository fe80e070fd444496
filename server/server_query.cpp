#include "server/server_query.h"

#include <cstring>

namespace vaultwick {

std::optional<std::string> QueryValue(MYSQL* connection, const std::string& query) {
  if (mysql_real_query(connection, query.data(), query.size()) != 0) {
    return std::nullopt;
  }
  MYSQL_RES* result = mysql_store_result(connection);
  if (result == nullptr) {
    return std::nullopt;
  }
  std::optional<std::string> value;
  if (MYSQL_ROW row = mysql_fetch_row(result); row != nullptr && row[0] != nullptr) {
    value = row[0];
  }
  mysql_free_result(result);
  return value;
}

bool RunStatement(MYSQL* connection, std::string_view statement) {
  if (mysql_real_query(connection, statement.data(), statement.size()) != 0) {
    return false;
  }
  if (MYSQL_RES* result = mysql_store_result(connection)) {
    mysql_free_result(result);
  }
  return true;
}

bool IsMariaDb(MYSQL* connection) {
  const char* serverInfo = mysql_get_server_info(connection);
  return serverInfo != nullptr && std::strstr(serverInfo, "MariaDB") != nullptr;
}

std::string TextLiteral(MYSQL* connection, std::string_view text) {
  std::string escaped(text.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(connection, escaped.data(), text.data(),
                                          static_cast<unsigned long>(text.size())));
  return "'" + escaped + "'";
}

std::optional<DatabaseContents> CountDatabaseContents(MYSQL* connection, const std::string& name) {
  const std::string literal = TextLiteral(connection, name);
  const std::optional<std::string> tables = QueryValue(
      connection, "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = " + literal);
  const std::optional<std::string> others =
      tables ? QueryValue(connection,
                          "SELECT (SELECT COUNT(*) FROM information_schema.ROUTINES WHERE "
                          "ROUTINE_SCHEMA = " +
                              literal +
                              ") + (SELECT COUNT(*) FROM information_schema.EVENTS WHERE "
                              "EVENT_SCHEMA = " +
                              literal + ")")
             : std::nullopt;
  if (!others) {
    return std::nullopt;
  }
  return DatabaseContents{std::stoull(*tables), std::stoull(*others)};
}

}  // namespace vaultwick
