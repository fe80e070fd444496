// The restored database is the database that was backed up: dump a database
// holding every kind of object and attribute, load the file with the stock
// `mariadb` client into a fresh database, and compare the two through
// information_schema and CHECKSUM TABLE.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "backup/dump_database.h"
#include "tests/backup/test_database.h"

namespace vaultwick {
namespace {

using test::SchemaSummary;
using test::TestDatabase;

const char kSchema[] = R"sql(
ALTER DATABASE CHARACTER SET latin1 COLLATE latin1_swedish_ci;
CREATE TABLE options_aria (id INT NOT NULL, note VARCHAR(20) NOT NULL DEFAULT '' COMMENT 'may be ''empty''',
  word VARCHAR(10) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin, PRIMARY KEY (id))
  ENGINE=Aria ROW_FORMAT=FIXED CHECKSUM=1 COMMENT='the table''s note';
INSERT INTO options_aria VALUES (1, '', 'ÿ'), (2, 'x', NULL);
CREATE TABLE memory_keys (a INT, b INT, KEY hashed (a), KEY ordered (b) USING BTREE) ENGINE=MEMORY;
INSERT INTO memory_keys VALUES (1, 2), (3, 4);
CREATE TABLE odd_keys (id INT NOT NULL AUTO_INCREMENT, g POINT NOT NULL, d INT, h INT, b BLOB,
  j JSON, PRIMARY KEY (id), SPATIAL KEY where_is (g), KEY newest (d DESC, h) COMMENT 'latest first',
  KEY unused (h) IGNORED, UNIQUE KEY long_unique (b)) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4
  AUTO_INCREMENT=1000;
INSERT INTO odd_keys (id, g, d, h, b, j) VALUES (1, POINT(1, 2), 3, 4, 'x', '{"a": 1}'),
  (2, POINT(-1, 0.5), NULL, 5, REPEAT('y', 3000), '[]');
CREATE TABLE ranges (id INT NOT NULL, v VARCHAR(5), PRIMARY KEY (id)) ROW_FORMAT=COMPACT
  STATS_PERSISTENT=0 PARTITION BY RANGE (id) (PARTITION low VALUES LESS THAN (10),
  PARTITION high VALUES LESS THAN MAXVALUE);
INSERT INTO ranges VALUES (1, 'a'), (20, 'b');
CREATE TABLE hashed (id INT) PARTITION BY HASH (id) PARTITIONS 3;
INSERT INTO hashed VALUES (1), (2), (3), (4);
)sql";

TEST(DumpSchema, EveryObjectComesBackAsInformationSchemaDescribesIt) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "schema");
  ASSERT_TRUE(original.Execute(kSchema));

  std::string path = test::ScratchPath("schema");
  DumpOutcome outcome = DumpDatabase(original.connection(), path.c_str(), nullptr, nullptr);
  EXPECT_EQ(outcome.failedQueries, 0) << outcome.cause;
  EXPECT_FALSE(outcome.serverLost);

  TestDatabase restored(server, "schema_restored");
  std::string clientOutput;
  EXPECT_TRUE(restored.RunClient(path, &clientOutput));
  EXPECT_EQ(clientOutput, "");
  std::remove(path.c_str());

  SchemaSummary before;
  SchemaSummary after;
  ASSERT_TRUE(test::SummarizeSchema(original, &before));
  ASSERT_TRUE(test::SummarizeSchema(restored, &after));
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    std::string expected = before[i].second;
    for (std::size_t at; (at = expected.find(original.name())) != std::string::npos;)
      expected.replace(at, original.name().size(), restored.name());
    EXPECT_EQ(after[i].second, expected) << before[i].first;
  }
}

}  // namespace
}  // namespace vaultwick
