#pragma once

// Test support for everything that needs a real MariaDB server: the private
// server's coordinates from the VAULTWICK_TEST_DB_* environment, a uniquely
// named scratch database per test, SQL execution, the `mariadb` command-line
// client for restore checks, and a per-table summary (checksum, columns,
// indexes) for comparing two databases.
//
// When the variables are unset a test is skipped with a clear message, unless
// VAULTWICK_TEST_DB_REQUIRED=1, when it fails instead.

#include <gtest/gtest.h>
#include <mysql.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/server_login.h"

namespace vaultwick::test {

struct TestServer {
  std::string host;
  unsigned port = 0;
  std::string socket;
  std::string user;
  std::string password;
};

// The private server named by the environment, or nullopt (with the reason in
// *why) when the variables are missing.
std::optional<TestServer> TestServerFromEnvironment(std::string* why);

// The server as a program is pointed at it: "host:port", so that the
// connection is made by TCP and never through a default socket.
std::string Address(const TestServer& server);

// The test login to `database` on the server, as a job is given it.
ServerLogin LoginTo(const TestServer& server, const std::string& database);

// True when VAULTWICK_TEST_DB_REQUIRED=1: a missing server is a failure.
bool TestServerRequired();

// A new connection to the server (no database selected, utf8mb4, multi-statement
// queries allowed), or nullptr with the client's error in *error.
MYSQL* ConnectToTestServer(const TestServer& server, const char* database, std::string* error);

// One row of a result: a null optional is SQL NULL.
using ResultRow = std::vector<std::optional<std::string>>;

// Creates a database named "vw_<tag>_<pid>_<n>" on construction and drops it on
// destruction. Its connection has the database selected.
class TestDatabase {
 public:
  TestDatabase(const TestServer& server, const std::string& tag);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // False when the database could not be created (the reason is in error()).
  bool ok() const { return connection_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  const TestServer& server() const { return server_; }
  MYSQL* connection() const { return connection_; }

  // A second connection with this database selected; the caller closes it.
  MYSQL* OpenConnection(std::string* error) const;

  // Runs SQL text (several statements separated by ';' are allowed) and
  // discards any results.
  ::testing::AssertionResult Execute(const std::string& sql) const;

  // Runs one query and returns all its rows (binary-safe).
  ::testing::AssertionResult Query(const std::string& sql, std::vector<ResultRow>* rows) const;

  // Feeds the file at inputPath to the `mariadb` client on stdin, connected to
  // this database with the given character set. Client output (stdout and
  // stderr) goes to *output.
  ::testing::AssertionResult RunClient(const std::string& inputPath, std::string* output = nullptr,
                                       const std::string& characterSet = "utf8mb4") const;

 private:
  TestServer server_;
  std::string name_;
  std::string error_;
  MYSQL* connection_ = nullptr;
};

// What two copies of a table must agree on.
struct TableSummary {
  std::string name;
  std::string checksum;  // CHECKSUM TABLE; empty for a view
  std::string columns;   // one line per column: name, type, nullability, default, extra,
                         // collation, generation expression
  std::string
      indexes;  // one line per index column: name, uniqueness, position, column, prefix, type
  bool operator==(const TableSummary&) const = default;
};

// Every table of the database, ordered by name.
::testing::AssertionResult SummarizeTables(const TestDatabase& database,
                                           std::vector<TableSummary>* tables);

void PrintTo(const TableSummary& table, std::ostream* out);

// The database as information_schema describes it, one text per aspect
// (tables, columns, indexes, constraints, views, routines, triggers, events,
// partitions), with the database's own name written as DB and creation times
// and definers left out, plus every base table's CHECKSUM TABLE, so that two
// databases compare aspect by aspect.
using SchemaSummary = std::vector<std::pair<std::string, std::string>>;
::testing::AssertionResult SummarizeSchema(const TestDatabase& database, SchemaSummary* summary);

// Whether `copy` summarises as `original` does, aspect by aspect, the
// original's name read as the copy's wherever it still appears.
::testing::AssertionResult SameSchema(const TestDatabase& original, const TestDatabase& copy);

// A path for a scratch file that does not exist yet (in the system's temporary
// folder, unique to this process); the caller removes it.
std::string ScratchPath(const std::string& stem);

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace vaultwick::test

// For the body of a TEST or a fixture's SetUp: skips the test when no server
// is configured, or fails it when one is required. Binds `server` (TestServer).
#define VAULTWICK_REQUIRE_TEST_SERVER(server)                                               \
  ::vaultwick::test::TestServer server;                                                     \
  do {                                                                                      \
    std::string vw_why_;                                                                    \
    auto vw_found_ = ::vaultwick::test::TestServerFromEnvironment(&vw_why_);                \
    if (!vw_found_) {                                                                       \
      if (::vaultwick::test::TestServerRequired()) {                                        \
        FAIL() << vw_why_ << " (VAULTWICK_TEST_DB_REQUIRED=1)";                             \
      }                                                                                     \
      GTEST_SKIP() << vw_why_ << "; start one with: eval \"$(scripts/mariadb start DIR)\""; \
    }                                                                                       \
    server = *vw_found_;                                                                    \
  } while (0)
