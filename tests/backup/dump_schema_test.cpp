// The restored database is the database that was backed up: dump a database
// holding every kind of object and attribute, load the file with the stock
// `mariadb` client into a fresh database, and compare the two through
// information_schema and CHECKSUM TABLE.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "tests/backup/test_database.h"

namespace vaultwick {
namespace {

using test::SchemaSummary;
using test::TestDatabase;

const char kSchema[] = R"sql(
ALTER DATABASE CHARACTER SET latin1 COLLATE latin1_swedish_ci COMMENT 'the shop''s data';
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
CREATE SEQUENCE ticket START WITH 100 INCREMENT BY 5 CACHE 10;
DO NEXTVAL(ticket); DO NEXTVAL(ticket);
CREATE TABLE b_parent (id INT PRIMARY KEY, code INT, UNIQUE KEY code_id (code, id)) ENGINE=InnoDB;
CREATE TABLE a_child (id INT PRIMARY KEY, parent INT, code INT, qty INT,
  ticket INT DEFAULT NEXTVAL(ticket),
  CONSTRAINT to_parent FOREIGN KEY (parent) REFERENCES b_parent (id) ON DELETE CASCADE,
  FOREIGN KEY (code, parent) REFERENCES b_parent (code, id) ON UPDATE SET NULL,
  CONSTRAINT positive CHECK (qty > 0), CHECK (qty <> 13)) ENGINE=InnoDB;
INSERT INTO b_parent VALUES (1, 10), (2, 20);
INSERT INTO a_child (id, parent, code, qty) VALUES (1, 1, 10, 5), (2, 2, 20, 1), (3, NULL, NULL, 2);
CREATE FUNCTION doubled(x INT) RETURNS INT DETERMINISTIC COMMENT 'twice' RETURN x * 2;
CREATE VIEW y_sums AS SELECT parent, doubled(SUM(qty)) AS total, 'a;;b' AS odd FROM a_child
  GROUP BY parent;
CREATE SQL SECURITY INVOKER VIEW a_top AS SELECT parent, total FROM y_sums WHERE total > 1;
CREATE VIEW a_checked AS SELECT id, qty FROM a_child WHERE qty > 1 WITH CHECK OPTION;
CREATE TABLE far_east (id INT PRIMARY KEY, s VARCHAR(10) CHARACTER SET sjis,
  b VARCHAR(10) CHARACTER SET big5, g TEXT CHARACTER SET gbk) CHARACTER SET sjis;
INSERT INTO far_east VALUES (1, X'F040', X'C87A', X'A140'), (2, X'815F', X'A2CC', NULL),
  (3, 'plain', '', 'x');
CREATE TABLE versioned (id INT PRIMARY KEY, v INT, note INT WITHOUT SYSTEM VERSIONING)
  WITH SYSTEM VERSIONING;
INSERT INTO versioned VALUES (1, 10, 0), (2, 20, 0);
UPDATE versioned SET v = 11 WHERE id = 1;
DELETE FROM versioned WHERE id = 2;
CREATE TABLE periods (id INT, v INT, since TIMESTAMP(6) GENERATED ALWAYS AS ROW START INVISIBLE,
  until TIMESTAMP(6) GENERATED ALWAYS AS ROW END INVISIBLE, PERIOD FOR SYSTEM_TIME(since, until))
  WITH SYSTEM VERSIONING;
INSERT INTO periods (id, v) VALUES (1, 1);
UPDATE periods SET v = 2;
)sql";

// A versioned table's rows with their history and periods.
const char* const kHistory[] = {
    "SELECT id, v, note, ROW_START, ROW_END FROM versioned FOR SYSTEM_TIME ALL ORDER BY 1, 4",
    "SELECT id, v, since, until FROM periods FOR SYSTEM_TIME ALL ORDER BY 1, 3"};

// Stored programs whose bodies hold semicolons (and the first delimiter a
// dump would try), under the SQL modes they were created in.
const char kPrograms[] = R"sql(
SET sql_mode = 'PIPES_AS_CONCAT';
CREATE PROCEDURE tally(IN n INT, OUT s VARCHAR(40))
BEGIN
  DECLARE i INT DEFAULT 0;
  SET s = 'x;;y' || n;
  WHILE i < n DO SET i = i + 1; END WHILE;
END;
SET sql_mode = ORACLE;
CREATE PACKAGE prices AS FUNCTION net(gross INT) RETURN INT; END;
CREATE PACKAGE BODY prices AS FUNCTION net(gross INT) RETURN INT AS BEGIN RETURN gross - 1; END; END;
SET sql_mode = DEFAULT;
CREATE TRIGGER first_check BEFORE INSERT ON b_parent FOR EACH ROW SET NEW.code = NEW.code + 1;
CREATE TRIGGER then_clamp BEFORE INSERT ON b_parent FOR EACH ROW FOLLOWS first_check
  BEGIN IF NEW.code < 0 THEN SET NEW.code = 0; END IF; END;
CREATE TRIGGER log_delete AFTER DELETE ON a_child FOR EACH ROW
  INSERT INTO hashed VALUES (OLD.id);
SET time_zone = '+03:00';
CREATE EVENT nightly ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 02:00:00' DISABLE
  COMMENT 'clean up' DO DELETE FROM a_child WHERE qty < 0;
SET time_zone = DEFAULT;
)sql";

TEST(DumpSchema, EveryObjectComesBackAsInformationSchemaDescribesIt) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "schema");
  ASSERT_TRUE(original.Execute(kSchema));
  ASSERT_TRUE(original.Execute(kPrograms));

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
  for (const char* history : kHistory) {
    std::vector<test::ResultRow> rowsBefore;
    std::vector<test::ResultRow> rowsAfter;
    ASSERT_TRUE(original.Query(history, &rowsBefore));
    ASSERT_TRUE(restored.Query(history, &rowsAfter));
    EXPECT_GT(rowsBefore.size(), 1u) << history;
    EXPECT_EQ(rowsAfter, rowsBefore) << history;
  }
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
