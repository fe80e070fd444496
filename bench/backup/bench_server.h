#pragma once

// The private server the backup benchmarks run against, found through the
// VAULTWICK_TEST_DB_* variables that scripts/mariadb prints.

#include <mysql.h>

#include <string>

#include "common/server_login.h"

namespace vaultwick::bench {

struct Server {
  std::string host, port, user, password;
};

// False (with a hint on stderr) when the variables are not set.
bool ServerFromEnvironment(Server* server);

// The server as the product is given it, logged in to `database`.
ServerLogin LoginTo(const Server& server, const std::string& database);

// A utf8mb4 connection to the server, with `database` selected when given;
// null (with the reason on stderr) on failure.
MYSQL* Connect(const Server& server, const char* database);

// The server the variables name, and a connection to it with no database
// selected; null (with the reason on stderr) when either is missing.
MYSQL* ConnectFromEnvironment(Server* server);

// Runs one statement; prints the failure and returns false when it fails.
bool Run(MYSQL* connection, const std::string& sql);

// Creates `database` with one generated table `orders` of `rows` rows: integers,
// text that needs escaping (apostrophe, LF, tab, backslash), MD5 hex, decimals,
// dates and NULLs. Both backup benchmarks measure this same table.
bool CreateBenchDatabase(MYSQL* connection, const std::string& database, long rows);

}  // namespace vaultwick::bench
