#include "tests/support/test_database.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vaultwick::test {
namespace {

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && value[0] != '\0') ? value : nullptr;
}

std::string ClientError(MYSQL* connection) {
  return mysql_error(connection);
}

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "`";
  for (char c : name) {
    quoted += c;
    if (c == '`')
      quoted += '`';
  }
  return quoted + "`";
}

std::string QuoteLiteral(MYSQL* connection, const std::string& text) {
  std::string buffer(text.size() * 2 + 1, '\0');
  unsigned long length = mysql_real_escape_string(connection, buffer.data(), text.data(),
                                                  static_cast<unsigned long>(text.size()));
  buffer.resize(length);
  return "'" + buffer + "'";
}

// Drains every result of a (multi-)statement so the connection is usable again.
bool DrainResults(MYSQL* connection) {
  for (;;) {
    MYSQL_RES* result = mysql_store_result(connection);
    if (result != nullptr) {
      mysql_free_result(result);
    } else if (mysql_field_count(connection) != 0) {
      return false;
    }
    int next = mysql_next_result(connection);
    if (next > 0)
      return false;
    if (next < 0)
      return true;
  }
}

std::string JoinRow(const ResultRow& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i != 0)
      line += '|';
    line += row[i] ? *row[i] : std::string("NULL");
  }
  return line;
}

}  // namespace

std::optional<TestServer> TestServerFromEnvironment(std::string* why) {
  const char* host = Env("VAULTWICK_TEST_DB_HOST");
  const char* port = Env("VAULTWICK_TEST_DB_PORT");
  const char* user = Env("VAULTWICK_TEST_DB_USER");
  if (host == nullptr || port == nullptr || user == nullptr) {
    *why = "no MariaDB test server: VAULTWICK_TEST_DB_HOST, _PORT and _USER are not set";
    return std::nullopt;
  }
  TestServer server;
  server.host = host;
  server.port = static_cast<unsigned>(std::strtoul(port, nullptr, 10));
  server.user = user;
  if (const char* socket = Env("VAULTWICK_TEST_DB_SOCKET"))
    server.socket = socket;
  if (const char* password = std::getenv("VAULTWICK_TEST_DB_PASSWORD"))
    server.password = password;
  return server;
}

std::string Address(const TestServer& server) {
  return server.host + ":" + std::to_string(server.port);
}

ServerLogin LoginTo(const TestServer& server, const std::string& database) {
  ServerLogin login;
  login.host = Address(server);
  login.login = server.user;
  login.password = server.password;
  login.database = database;
  return login;
}

bool TestServerRequired() {
  const char* required = std::getenv("VAULTWICK_TEST_DB_REQUIRED");
  return required != nullptr && std::strcmp(required, "1") == 0;
}

MYSQL* ConnectToTestServer(const TestServer& server, const char* database, std::string* error) {
  MYSQL* connection = mysql_init(nullptr);
  if (connection == nullptr) {
    *error = "mysql_init failed";
    return nullptr;
  }
  mysql_options(connection, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (mysql_real_connect(connection, server.host.c_str(), server.user.c_str(),
                         server.password.c_str(), database, server.port, nullptr,
                         CLIENT_MULTI_STATEMENTS) == nullptr) {
    *error = "cannot connect to " + server.host + ":" + std::to_string(server.port) + ": " +
             ClientError(connection);
    mysql_close(connection);
    return nullptr;
  }
  return connection;
}

TestDatabase::TestDatabase(const TestServer& server, const std::string& tag) : server_(server) {
  static std::atomic<int> counter{0};
  name_ = "vw_" + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  connection_ = ConnectToTestServer(server_, nullptr, &error_);
  if (connection_ == nullptr)
    return;
  std::string create = "DROP DATABASE IF EXISTS " + QuoteIdentifier(name_) + "; CREATE DATABASE " +
                       QuoteIdentifier(name_) + " CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci";
  if (mysql_query(connection_, create.c_str()) != 0 || !DrainResults(connection_) ||
      mysql_select_db(connection_, name_.c_str()) != 0) {
    error_ = "cannot create database " + name_ + ": " + ClientError(connection_);
  }
}

TestDatabase::~TestDatabase() {
  if (connection_ == nullptr)
    return;
  std::string drop = "DROP DATABASE IF EXISTS " + QuoteIdentifier(name_);
  if (mysql_query(connection_, drop.c_str()) == 0) {
    DrainResults(connection_);
  } else {
    // The test may have cut this connection (a cancelled dump does): drop
    // the database over a fresh one.
    std::string error;
    if (MYSQL* fresh = ConnectToTestServer(server_, nullptr, &error)) {
      if (mysql_query(fresh, drop.c_str()) == 0) {
        DrainResults(fresh);
      }
      mysql_close(fresh);
    }
  }
  mysql_close(connection_);
}

MYSQL* TestDatabase::OpenConnection(std::string* error) const {
  return ConnectToTestServer(server_, name_.c_str(), error);
}

::testing::AssertionResult TestDatabase::Execute(const std::string& sql) const {
  if (!ok())
    return ::testing::AssertionFailure() << error_;
  if (mysql_real_query(connection_, sql.data(), static_cast<unsigned long>(sql.size())) != 0 ||
      !DrainResults(connection_)) {
    return ::testing::AssertionFailure() << "SQL failed: " << ClientError(connection_) << "\n"
                                         << sql.substr(0, 2000);
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestDatabase::Query(const std::string& sql,
                                               std::vector<ResultRow>* rows) const {
  rows->clear();
  if (!ok())
    return ::testing::AssertionFailure() << error_;
  if (mysql_real_query(connection_, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
    return ::testing::AssertionFailure() << "query failed: " << ClientError(connection_) << "\n"
                                         << sql;
  }
  MYSQL_RES* result = mysql_store_result(connection_);
  if (result == nullptr) {
    return ::testing::AssertionFailure()
           << "query gave no result: " << ClientError(connection_) << "\n"
           << sql;
  }
  unsigned fields = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    ResultRow values(fields);
    for (unsigned i = 0; i < fields; ++i) {
      if (row[i] != nullptr)
        values[i] = std::string(row[i], lengths[i]);
    }
    rows->push_back(std::move(values));
  }
  mysql_free_result(result);
  DrainResults(connection_);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestDatabase::RunClient(const std::string& inputPath,
                                                   std::string* output,
                                                   const std::string& characterSet) const {
  int input = open(inputPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    return ::testing::AssertionFailure()
           << "cannot open " << inputPath << ": " << std::strerror(errno);
  }
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    close(input);
    return ::testing::AssertionFailure() << "pipe failed";
  }
  std::vector<std::string> args = {"mariadb",
                                   "--no-defaults",
                                   "--default-character-set=" + characterSet,
                                   "--batch",
                                   "--host=" + server_.host,
                                   "--port=" + std::to_string(server_.port),
                                   "--user=" + server_.user,
                                   "--password=" + server_.password,
                                   "--protocol=TCP",
                                   name_};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t child = fork();
  if (child == 0) {
    dup2(input, STDIN_FILENO);
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(input);
  close(pipeEnds[1]);
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0)
      text.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  if (child < 0)
    return ::testing::AssertionFailure() << "fork failed";
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (output != nullptr)
    *output = text;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return ::testing::AssertionFailure()
           << "mariadb client failed (status " << status << "): " << text;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SummarizeTables(const TestDatabase& database,
                                           std::vector<TableSummary>* tables) {
  tables->clear();
  MYSQL* connection = database.connection();
  std::string schema = QuoteLiteral(connection, database.name());
  std::vector<ResultRow> names;
  auto listed = database.Query(
      "SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE "
      "TABLE_SCHEMA = " +
          schema + " ORDER BY TABLE_NAME",
      &names);
  if (!listed)
    return listed;
  for (const ResultRow& entry : names) {
    TableSummary table;
    table.name = *entry[0];
    std::string literal = QuoteLiteral(connection, table.name);
    std::vector<ResultRow> rows;
    if (*entry[1] == "BASE TABLE") {
      auto checked = database.Query("CHECKSUM TABLE " + QuoteIdentifier(table.name), &rows);
      if (!checked)
        return checked;
      if (rows.size() == 1 && rows[0].size() == 2 && rows[0][1])
        table.checksum = *rows[0][1];
    }
    auto columns = database.Query(
        "SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, COLUMN_DEFAULT, EXTRA, "
        "COLLATION_NAME, GENERATION_EXPRESSION FROM information_schema.COLUMNS WHERE TABLE_SCHEMA "
        "= " +
            schema + " AND TABLE_NAME = " + literal + " ORDER BY ORDINAL_POSITION",
        &rows);
    if (!columns)
      return columns;
    for (const ResultRow& row : rows)
      table.columns += JoinRow(row) + "\n";
    auto indexes = database.Query(
        "SELECT INDEX_NAME, NON_UNIQUE, SEQ_IN_INDEX, COLUMN_NAME, SUB_PART, INDEX_TYPE "
        "FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = " +
            schema + " AND TABLE_NAME = " + literal + " ORDER BY INDEX_NAME, SEQ_IN_INDEX",
        &rows);
    if (!indexes)
      return indexes;
    for (const ResultRow& row : rows)
      table.indexes += JoinRow(row) + "\n";
    tables->push_back(std::move(table));
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SummarizeSchema(const TestDatabase& database, SchemaSummary* summary) {
  summary->clear();
  const std::string schema = QuoteLiteral(database.connection(), database.name());
  const std::pair<const char*, std::string> aspects[] = {
      {"database",
       "SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
       "information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
           schema},
      {"tables",
       "SELECT TABLE_NAME, TABLE_TYPE, ENGINE, ROW_FORMAT, TABLE_COLLATION, CREATE_OPTIONS, "
       "TABLE_COMMENT, AUTO_INCREMENT FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
           schema + " ORDER BY TABLE_NAME"},
      {"columns",
       "SELECT TABLE_NAME, ORDINAL_POSITION, COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, "
       "COLUMN_DEFAULT, EXTRA, CHARACTER_SET_NAME, COLLATION_NAME, COLUMN_COMMENT, IS_GENERATED, "
       "GENERATION_EXPRESSION FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
           schema + " ORDER BY TABLE_NAME, ORDINAL_POSITION"},
      {"indexes",
       "SELECT TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX, NON_UNIQUE, COLUMN_NAME, COLLATION, SUB_PART, "
       "INDEX_TYPE, INDEX_COMMENT, IGNORED FROM information_schema.STATISTICS WHERE "
       "TABLE_SCHEMA = " +
           schema + " ORDER BY TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX"},
      {"constraints",
       "SELECT TABLE_NAME, CONSTRAINT_NAME, CONSTRAINT_TYPE FROM "
       "information_schema.TABLE_CONSTRAINTS WHERE CONSTRAINT_SCHEMA = " +
           schema + " ORDER BY TABLE_NAME, CONSTRAINT_NAME"},
      {"foreign keys",
       "SELECT r.TABLE_NAME, r.CONSTRAINT_NAME, r.REFERENCED_TABLE_NAME, "
       "r.UNIQUE_CONSTRAINT_NAME, r.MATCH_OPTION, r.UPDATE_RULE, r.DELETE_RULE, k.COLUMN_NAME, "
       "k.ORDINAL_POSITION, k.REFERENCED_COLUMN_NAME FROM "
       "information_schema.REFERENTIAL_CONSTRAINTS "
       "r JOIN information_schema.KEY_COLUMN_USAGE k ON k.CONSTRAINT_SCHEMA = r.CONSTRAINT_SCHEMA "
       "AND k.TABLE_NAME = r.TABLE_NAME AND k.CONSTRAINT_NAME = r.CONSTRAINT_NAME WHERE "
       "r.CONSTRAINT_SCHEMA = " +
           schema + " ORDER BY r.TABLE_NAME, r.CONSTRAINT_NAME, k.ORDINAL_POSITION"},
      {"checks",
       "SELECT TABLE_NAME, CONSTRAINT_NAME, LEVEL, CHECK_CLAUSE FROM "
       "information_schema.CHECK_CONSTRAINTS WHERE CONSTRAINT_SCHEMA = " +
           schema + " ORDER BY TABLE_NAME, CONSTRAINT_NAME"},
      {"views", "SELECT TABLE_NAME, REPLACE(VIEW_DEFINITION, CONCAT('`', " + schema +
                    ", '`'), '`DB`'), CHECK_OPTION, IS_UPDATABLE, SECURITY_TYPE, ALGORITHM FROM "
                    "information_schema.VIEWS WHERE TABLE_SCHEMA = " +
                    schema + " ORDER BY TABLE_NAME"},
      {"routines",
       "SELECT ROUTINE_NAME, ROUTINE_TYPE, DTD_IDENTIFIER, ROUTINE_BODY, ROUTINE_DEFINITION, "
       "IS_DETERMINISTIC, SQL_DATA_ACCESS, SECURITY_TYPE, SQL_MODE, ROUTINE_COMMENT FROM "
       "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = " +
           schema + " ORDER BY ROUTINE_TYPE, ROUTINE_NAME"},
      {"parameters",
       "SELECT SPECIFIC_NAME, ROUTINE_TYPE, ORDINAL_POSITION, PARAMETER_MODE, PARAMETER_NAME, "
       "DTD_IDENTIFIER FROM information_schema.PARAMETERS WHERE SPECIFIC_SCHEMA = " +
           schema + " ORDER BY ROUTINE_TYPE, SPECIFIC_NAME, ORDINAL_POSITION"},
      {"triggers",
       "SELECT EVENT_OBJECT_TABLE, ACTION_TIMING, EVENT_MANIPULATION, ACTION_ORDER, TRIGGER_NAME, "
       "ACTION_STATEMENT, SQL_MODE FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
           schema +
           " ORDER BY EVENT_OBJECT_TABLE, ACTION_TIMING, EVENT_MANIPULATION, ACTION_ORDER"},
      {"events",
       "SELECT EVENT_NAME, EVENT_DEFINITION, EVENT_TYPE, EXECUTE_AT, INTERVAL_VALUE, "
       "INTERVAL_FIELD, SQL_MODE, STARTS, ENDS, STATUS, ON_COMPLETION, EVENT_COMMENT, TIME_ZONE "
       "FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " +
           schema + " ORDER BY EVENT_NAME"},
      {"partitions",
       "SELECT TABLE_NAME, PARTITION_NAME, SUBPARTITION_NAME, PARTITION_METHOD, "
       "SUBPARTITION_METHOD, PARTITION_EXPRESSION, PARTITION_DESCRIPTION FROM "
       "information_schema.PARTITIONS WHERE TABLE_SCHEMA = " +
           schema +
           " AND PARTITION_NAME IS NOT NULL ORDER BY TABLE_NAME, PARTITION_ORDINAL_POSITION, "
           "SUBPARTITION_ORDINAL_POSITION"},
  };
  for (const auto& [aspect, sql] : aspects) {
    std::vector<ResultRow> rows;
    auto queried = database.Query(sql, &rows);
    if (!queried)
      return queried;
    std::string text;
    for (const ResultRow& row : rows)
      text += JoinRow(row) + "\n";
    summary->emplace_back(aspect, std::move(text));
  }

  std::vector<ResultRow> tables;
  auto listed = database.Query(
      "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_TYPE IN ('BASE TABLE', "
      "'SYSTEM VERSIONED') AND TABLE_SCHEMA = " +
          schema + " ORDER BY TABLE_NAME",
      &tables);
  if (!listed)
    return listed;
  std::string checksums;
  for (const ResultRow& table : tables) {
    std::vector<ResultRow> rows;
    auto checked = database.Query("CHECKSUM TABLE " + QuoteIdentifier(*table[0]), &rows);
    if (!checked)
      return checked;
    checksums += *table[0] + "|" + (rows.empty() ? "" : JoinRow({rows[0][1]})) + "\n";
  }
  summary->emplace_back("checksums", std::move(checksums));

  // A sequence's state is its one row.
  auto sequences = database.Query(
      "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_TYPE = 'SEQUENCE' AND "
      "TABLE_SCHEMA = " +
          schema + " ORDER BY TABLE_NAME",
      &tables);
  if (!sequences)
    return sequences;
  std::string states;
  for (const ResultRow& sequence : tables) {
    std::vector<ResultRow> rows;
    auto read = database.Query("SELECT * FROM " + QuoteIdentifier(*sequence[0]), &rows);
    if (!read)
      return read;
    for (const ResultRow& row : rows)
      states += *sequence[0] + "|" + JoinRow(row) + "\n";
  }
  summary->emplace_back("sequences", std::move(states));
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameSchema(const TestDatabase& original, const TestDatabase& copy) {
  SchemaSummary before;
  SchemaSummary after;
  if (auto summarized = SummarizeSchema(original, &before); !summarized)
    return summarized;
  if (auto summarized = SummarizeSchema(copy, &after); !summarized)
    return summarized;
  if (before.size() != after.size())
    return ::testing::AssertionFailure() << "the summaries have different aspects";
  for (std::size_t i = 0; i < before.size(); ++i) {
    std::string expected = before[i].second;
    for (std::size_t at; (at = expected.find(original.name())) != std::string::npos;)
      expected.replace(at, original.name().size(), copy.name());
    if (after[i].second != expected)
      return ::testing::AssertionFailure() << before[i].first << " differ:\n"
                                           << expected << "---- became ----\n"
                                           << after[i].second;
  }
  return ::testing::AssertionSuccess();
}

void PrintTo(const TableSummary& table, std::ostream* out) {
  *out << "table " << table.name << " checksum " << table.checksum << "\ncolumns:\n"
       << table.columns << "indexes:\n"
       << table.indexes;
}

std::string ScratchPath(const std::string& stem) {
  static std::atomic<int> counter{0};
  const char* folder = Env("TMPDIR");
  std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/vaultwick_" + stem + "_" +
                     std::to_string(getpid()) + "_" + std::to_string(++counter);
  std::remove(path.c_str());
  return path;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace vaultwick::test
