#pragma once

// The small questions asked of the server beside the main work (a dump, a
// load): single values, statements whose answer nobody reads, literals.

#include <mysql.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

// The first field of the first row `query` answers; nullopt when the query
// fails, answers no row, or the field is NULL.
std::optional<std::string> QueryValue(MYSQL* connection, const std::string& query);

// Runs `statement` and drops any answer. False when it failed.
bool RunStatement(MYSQL* connection, std::string_view statement);

// What a database holds, as the login sees it, that a restore could run into.
struct DatabaseContents {
  std::uint64_t tables = 0;  // tables, views and sequences
  std::uint64_t routinesAndEvents = 0;
  bool Empty() const { return tables == 0 && routinesAndEvents == 0; }
};

// Counted in the database `name` (nothing when it does not exist); nullopt
// when the server does not answer.
std::optional<DatabaseContents> CountDatabaseContents(MYSQL* connection, const std::string& name);

// True when the server says it is MariaDB, whose dialect differs from MySQL's
// in places the dump must follow.
bool IsMariaDb(MYSQL* connection);

// `text` as a text literal for `connection`: escaped, between apostrophes.
std::string TextLiteral(MYSQL* connection, std::string_view text);

}  // namespace vaultwick
