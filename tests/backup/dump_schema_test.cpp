// The restored database is the database that was backed up: dump a database
// holding every kind of object and attribute, load the file with the stock
// `mariadb` client into a fresh database, and compare the two through
// information_schema and CHECKSUM TABLE.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "tests/support/test_database.h"
#include "tests/support/test_schemas.h"

namespace vaultwick {
namespace {

using test::TestDatabase;

TEST(DumpSchema, EveryObjectComesBackAsInformationSchemaDescribesIt) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "schema");
  ASSERT_TRUE(original.Execute(test::kEveryObjectSchema));
  ASSERT_TRUE(original.Execute(test::kStoredPrograms));

  std::string path = test::ScratchPath("schema");
  DumpOutcome outcome = DumpDatabase(original.connection(), path.c_str(), nullptr);
  EXPECT_EQ(outcome.failedQueries, 0) << outcome.cause;
  EXPECT_FALSE(outcome.serverLost);

  TestDatabase restored(server, "schema_restored");
  std::string clientOutput;
  EXPECT_TRUE(restored.RunClient(path, &clientOutput));
  EXPECT_EQ(clientOutput, "");
  std::remove(path.c_str());

  for (const char* hidden : test::kHiddenQueries) {
    std::vector<test::ResultRow> rowsBefore;
    std::vector<test::ResultRow> rowsAfter;
    ASSERT_TRUE(original.Query(hidden, &rowsBefore));
    ASSERT_TRUE(restored.Query(hidden, &rowsAfter));
    EXPECT_GT(rowsBefore.size(), 1u) << hidden;
    EXPECT_EQ(rowsAfter, rowsBefore) << hidden;
  }
  EXPECT_TRUE(test::SameSchema(original, restored));
}

}  // namespace
}  // namespace vaultwick
