#include "restore/server_query.h"

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

std::string TextLiteral(MYSQL* connection, std::string_view text) {
  std::string escaped(text.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(connection, escaped.data(), text.data(),
                                          static_cast<unsigned long>(text.size())));
  return "'" + escaped + "'";
}

}  // namespace vaultwick
