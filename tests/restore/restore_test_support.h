#pragma once

// What the restore tests share: a fixture that packs dumps into archives and
// makes requests for the private server, a gate that holds a load at one
// statement of its dump, and a login with narrow grants.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/restore_database.h"
#include "tests/support/test_database.h"

namespace vaultwick::test {

// Rows whose values a line-based splitter or a batching loader could get
// wrong, objects whose bodies hold the delimiter, keys that point forward.
extern const char kAwkward[];

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new scratch file path ending in `suffix`, removed after the test.
  std::string Scratch(const std::string& suffix);
  // The dump a backup of `database` writes.
  std::string DumpOf(const TestDatabase& database);
  // Packs `dump` text (or the dump of `database`) into an archive, as a backup does.
  std::string Archive(const TestDatabase* database, const std::string& dump = {});
  RestoreRequest Request(const std::string& archive, const std::string& database) const;
  bool DatabaseExists(const TestDatabase& any, const std::string& name) const;
  // The staging databases that restores into `target` left behind.
  std::vector<std::string> StagingLeft(const TestDatabase& any, const std::string& target) const;

  TestServer server_;
  std::vector<std::string> scratch_;
};

// Holds a load at the gate's statement in its dump until the test opens the
// gate: the statement waits for a lock of the server that the gate holds.
class LoadGate {
 public:
  // The lock is taken through `holder`'s connection and named after it.
  explicit LoadGate(const TestDatabase& holder);
  ~LoadGate();
  LoadGate(const LoadGate&) = delete;
  LoadGate& operator=(const LoadGate&) = delete;

  // The dump line that waits at the gate.
  std::string Statement() const;
  // The same as a row of `table` (one INT column), which its rows' connection waits at.
  std::string Row(const std::string& table) const;
  // Waits until a load waits at the gate: false when none came.
  bool AwaitLoad() const;
  // The server's id of the connection that waits at the gate.
  std::string LoadConnection() const;
  // Lets the load through; it is opened at the end at the latest.
  void Open();

 private:
  std::vector<ResultRow> Waiting() const;

  const TestDatabase& holder_;
  bool closed_ = false;
};

// A login of the test's own with only the grants given, gone at the end.
class LimitedLogin {
 public:
  // `grants` as GRANT takes them, e.g. "CREATE, SELECT ON `db`.*".
  LimitedLogin(const TestDatabase& admin, const std::vector<std::string>& grants);
  ~LimitedLogin();
  LimitedLogin(const LimitedLogin&) = delete;
  LimitedLogin& operator=(const LimitedLogin&) = delete;

  // `request` logging in as this login.
  RestoreRequest As(RestoreRequest request) const;
  const std::string& name() const { return name_; }

 private:
  const TestDatabase& admin_;
  std::string name_;
};

}  // namespace vaultwick::test
