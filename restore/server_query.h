#pragma once

// The small questions a restore asks the server beside loading the dump.

#include <mysql.h>

#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

// The first field of the first row `query` answers; nullopt when the query
// fails, answers no row, or the field is NULL.
std::optional<std::string> QueryValue(MYSQL* connection, const std::string& query);

// `text` as a text literal for `connection`: escaped, between apostrophes.
std::string TextLiteral(MYSQL* connection, std::string_view text);

}  // namespace vaultwick
