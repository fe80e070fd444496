#include "bench/backup/bench_server.h"

#include <cstdio>
#include <cstdlib>

namespace vaultwick::bench {

bool ServerFromEnvironment(Server* server) {
  const char* host = std::getenv("VAULTWICK_TEST_DB_HOST");
  const char* port = std::getenv("VAULTWICK_TEST_DB_PORT");
  const char* user = std::getenv("VAULTWICK_TEST_DB_USER");
  const char* password = std::getenv("VAULTWICK_TEST_DB_PASSWORD");
  if (host == nullptr || port == nullptr || user == nullptr) {
    std::fprintf(stderr,
                 "no server: run eval \"$(scripts/mariadb start DIR)\" first "
                 "(VAULTWICK_TEST_DB_* are not set)\n");
    return false;
  }
  *server = {host, port, user, password != nullptr ? password : ""};
  return true;
}

ServerLogin LoginTo(const Server& server, const std::string& database) {
  ServerLogin login;
  login.host = server.host + ":" + server.port;
  login.login = server.user;
  login.password = server.password;
  login.database = database;
  return login;
}

MYSQL* Connect(const Server& server, const char* database) {
  MYSQL* connection = mysql_init(nullptr);
  if (connection == nullptr) {
    return nullptr;
  }
  if (mysql_real_connect(
          connection, server.host.c_str(), server.user.c_str(), server.password.c_str(), database,
          static_cast<unsigned>(std::atoi(server.port.c_str())), nullptr, 0) == nullptr) {
    std::fprintf(stderr, "cannot connect: %s\n", mysql_error(connection));
    mysql_close(connection);
    return nullptr;
  }
  mysql_set_character_set(connection, "utf8mb4");
  return connection;
}

MYSQL* ConnectFromEnvironment(Server* server) {
  return ServerFromEnvironment(server) ? Connect(*server, nullptr) : nullptr;
}

bool Run(MYSQL* connection, const std::string& sql) {
  if (mysql_query(connection, sql.c_str()) != 0) {
    std::fprintf(stderr, "query failed: %s\n  %s\n", mysql_error(connection), sql.c_str());
    return false;
  }
  return true;
}

bool CreateBenchDatabase(MYSQL* connection, const std::string& database, long rows) {
  return Run(connection, "CREATE DATABASE " + database) && Run(connection, "USE " + database) &&
         Run(connection,
             "CREATE TABLE orders (id INT NOT NULL PRIMARY KEY, customer VARCHAR(60) NOT NULL, "
             "note TEXT, amount DECIMAL(12,2), placed DATETIME, paid TINYINT, KEY (customer))") &&
         Run(connection,
             "INSERT INTO orders SELECT seq, CONCAT('customer ', seq % 5000, ' O''Brien'), "
             "IF(seq % 7 = 0, NULL, CONCAT('line one\\nline two\\ttab \\\\ ', MD5(seq))), "
             "(seq % 100000) / 100, '2024-01-01' + INTERVAL seq SECOND, seq % 2 "
             "FROM seq_1_to_" +
                 std::to_string(rows));
}

}  // namespace vaultwick::bench
