// A dump must bring a database back: dump a database holding every common
// column type and awkward value, load the file with the `mariadb` client into
// a fresh database, and compare each table's checksum, columns and indexes.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "tests/support/test_database.h"
#include "tests/support/test_schemas.h"

namespace vaultwick {
namespace {

using test::TableSummary;
using test::TestDatabase;

// Dumps `original`, loads the file into a fresh database through the stock
// client in the given character set, and expects every table to match.
void ExpectRoundTrip(const TestDatabase& original, std::size_t tableCount,
                     const std::string& clientCharacterSet) {
  std::string path = test::ScratchPath("roundtrip");
  DumpOutcome outcome = DumpDatabase(original.connection(), path.c_str(), nullptr);
  EXPECT_EQ(outcome.failedQueries, 0) << outcome.cause;
  EXPECT_FALSE(outcome.writeFailed);

  TestDatabase restored(original.server(), "restored");
  std::string clientOutput;
  EXPECT_TRUE(restored.RunClient(path, &clientOutput, clientCharacterSet));
  EXPECT_EQ(clientOutput, "");
  std::remove(path.c_str());

  std::vector<TableSummary> before;
  std::vector<TableSummary> after;
  ASSERT_TRUE(test::SummarizeTables(original, &before));
  ASSERT_TRUE(test::SummarizeTables(restored, &after));
  ASSERT_EQ(before.size(), tableCount);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE("table " + before[i].name);
    EXPECT_EQ(before[i].name, after[i].name);
    EXPECT_EQ(before[i].columns, after[i].columns);
    EXPECT_EQ(before[i].indexes, after[i].indexes);
    EXPECT_EQ(before[i].checksum, after[i].checksum);
  }
}

TEST(DumpRestore, DumpLoadsBackIntoAnEqualDatabase) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "roundtrip");
  ASSERT_TRUE(original.Execute("SET time_zone = '+00:00'; SET sql_mode = 'STRICT_ALL_TABLES';" +
                               test::EveryTypeSchema()));
  // The dump must read text as utf8mb4 whatever the connection was set to.
  ASSERT_EQ(mysql_set_character_set(original.connection(), "latin1"), 0);
  ExpectRoundTrip(original, 4, "utf8mb4");
}

// Values and columns that once came back different, or not at all, loaded
// by a latin1 client with the server's strict default mode.
TEST(DumpRestore, ValuesAStrictOrForeignSessionWouldChangeComeBackExactly) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "hostile");
  ASSERT_TRUE(original.Execute(test::kHostileValues));
  // Read in one zone, loaded in another: only UTC on both sides keeps the instants.
  ASSERT_TRUE(original.Execute("SET time_zone = '+05:00', sql_mode = DEFAULT"));
  ExpectRoundTrip(original, 7, "latin1");
}

}  // namespace
}  // namespace vaultwick
