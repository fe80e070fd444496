// A dump must bring a database back: dump a database holding every common
// column type and awkward value, load the file with the `mariadb` client into
// a fresh database, and compare each table's checksum, columns and indexes.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "tests/backup/test_database.h"

namespace vaultwick {
namespace {

using test::TableSummary;
using test::TestDatabase;

std::string EveryByteHex() {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex = "X'";
  for (int byte = 0; byte < 256; ++byte) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex + "'";
}

std::string Schema() {
  const std::string everyByte = EveryByteHex();
  return R"sql(
CREATE TABLE every_type (
  id INT NOT NULL AUTO_INCREMENT,
  ti TINYINT, si SMALLINT, mi MEDIUMINT, i INT, bi BIGINT,
  tiu TINYINT UNSIGNED, siu SMALLINT UNSIGNED, iu INT UNSIGNED,
  biu BIGINT UNSIGNED NOT NULL DEFAULT 0,
  de DECIMAL(20,6) DEFAULT 1.50, fl FLOAT, db DOUBLE DEFAULT -2.5e-3,
  d DATE DEFAULT '2000-01-31', t TIME(3), y YEAR,
  dt DATETIME(6) DEFAULT CURRENT_TIMESTAMP(6),
  ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
  c CHAR(10), vc VARCHAR(200) DEFAULT 'it''s a \\ default', tx TEXT, mt MEDIUMTEXT,
  bn BINARY(4), vb VARBINARY(300), bl BLOB, lb LONGBLOB,
  e ENUM('a','b''c','d') DEFAULT 'b''c', s SET('x','y','z'),
  bt BIT(10) DEFAULT b'101', js JSON, k INT DEFAULT (1 + 1),
  PRIMARY KEY (id), KEY composite (i, vc), UNIQUE KEY uniq (bi, si),
  FULLTEXT KEY ft (tx, vc), KEY prefix (tx(20)), KEY blob_prefix (bl(8), vb(5))
) ENGINE=InnoDB;

INSERT INTO every_type (ti, si, mi, i, bi, tiu, siu, iu, biu, de, fl, db, d, t, y, dt, ts,
  c, vc, tx, mt, bn, vb, bl, lb, e, s, bt, js, k) VALUES
 (-128, -32768, -8388608, -2147483648, -9223372036854775808, 0, 0, 0, 0,
  -99999999999999.999999, -3.25, -1.7976931348623157e308, '1000-01-01', '-838:59:59.000',
  1901, '1000-01-01 00:00:00.000000', '1970-01-01 00:00:01',
  '', '', '', '', X'00000000', '', '', '', 'a', '', b'0', '[]', -1),
 (127, 32767, 8388607, 2147483647, 9223372036854775807, 255, 65535, 4294967295,
  18446744073709551615, 99999999999999.999999, 3.4028e38, 2.2250738585072014e-308,
  '9999-12-31', '838:59:59.999', 2155, '9999-12-31 23:59:59.999999', '2038-01-19 03:14:07',
  'ÿ😀', 'O''Hara \\ "q" \r\n\t\0 end\\', '😀 naïve Ωμέγα 𝄞 ✓', REPEAT('x\n', 5000),
  X'00FF0A0D', )sql" +
         everyByte + ", " + everyByte + ", REPEAT(" + everyByte +
         R"sql(, 300),
  'b''c', 'x,z', b'1111111111', '{"a": "b\\"c", "n": [1, 2.5, null]}', 0),
 (0, 1, 2, 3, 4, 5, 6, 7, 8, 0.000001, 0.1, 0.1, '2004-01-31', '12:34:56.789', 2004,
  '2004-01-31 12:34:56.5', '2004-01-31 12:34:56', 'a\'b', '\\', '\Z\'\\\r', '\n', 'ab',
  'x\0y', '\'', '\\', 'd', 'x,y,z', b'1000000001', '"text"', NULL);
INSERT INTO every_type (id) VALUES (100);
INSERT INTO every_type (id, biu, ts, de, db, d, dt, vc, e, bt, k) VALUES
  (101, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE `with space` (`a b` VARCHAR(10) NOT NULL, `c``d` INT,
  PRIMARY KEY (`a b`), KEY `odd``key` (`c``d`, `a b`(3)));
INSERT INTO `with space` VALUES ('x y', 1), ('', NULL), ('`', -1);

CREATE TABLE `back``tick` (v VARCHAR(20));
INSERT INTO `back``tick` VALUES ('no index'), (NULL), ('');

CREATE TABLE nothing_inside (n INT PRIMARY KEY, note TEXT);
)sql";
}

TEST(DumpRestore, DumpLoadsBackIntoAnEqualDatabase) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "roundtrip");
  ASSERT_TRUE(
      original.Execute("SET time_zone = '+00:00'; SET sql_mode = 'STRICT_ALL_TABLES';" + Schema()));

  // The dump must read text as utf8mb4 whatever the connection was set to.
  ASSERT_EQ(mysql_set_character_set(original.connection(), "latin1"), 0);
  std::string path = test::ScratchPath("roundtrip");
  DumpOutcome outcome = DumpDatabase(original.connection(), path.c_str(), nullptr, nullptr);
  EXPECT_EQ(outcome.rowsWritten, 11u);
  EXPECT_EQ(outcome.failedQueries, 0);
  EXPECT_FALSE(outcome.writeFailed);

  TestDatabase restored(server, "restored");
  std::string clientOutput;
  EXPECT_TRUE(restored.RunClient(path, &clientOutput));
  EXPECT_EQ(clientOutput, "");
  std::remove(path.c_str());

  std::vector<TableSummary> before;
  std::vector<TableSummary> after;
  ASSERT_TRUE(test::SummarizeTables(original, &before));
  ASSERT_TRUE(test::SummarizeTables(restored, &after));
  ASSERT_EQ(before.size(), 4u);
  // The rebuilt statement names no collation, and MariaDB's JSON is a LONGTEXT
  // with a binary collation: it comes back with the database's collation.
  const std::string json = "js|longtext|YES|NULL||";
  std::size_t jsonLine = before[1].columns.find(json + "utf8mb4_bin\n");
  ASSERT_NE(jsonLine, std::string::npos);
  before[1].columns.replace(jsonLine, json.size() + 11, json + "utf8mb4_general_ci");
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE("table " + before[i].name);
    EXPECT_EQ(before[i].name, after[i].name);
    EXPECT_EQ(before[i].columns, after[i].columns);
    EXPECT_EQ(before[i].indexes, after[i].indexes);
    EXPECT_EQ(before[i].checksum, after[i].checksum);
  }
}

}  // namespace
}  // namespace vaultwick
