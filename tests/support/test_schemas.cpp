#include "tests/support/test_schemas.h"

namespace vaultwick::test {

namespace {

std::string EveryByteHex() {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex = "X'";
  for (int byte = 0; byte < 256; ++byte) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex + "'";
}

}  // namespace

std::string EveryTypeSchema() {
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

const char kHostileValues[] = R"sql(
SET time_zone = '+00:00';
SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO,ALLOW_INVALID_DATES';
CREATE TABLE hidden (id INT NOT NULL AUTO_INCREMENT INVISIBLE PRIMARY KEY,
  a INT INVISIBLE DEFAULT 42, b VARCHAR(10));
INSERT INTO hidden (id, a, b) VALUES (1, 42, '😀'), (2, NULL, 'é'), (3, 7, NULL);
CREATE TABLE floats (id INT PRIMARY KEY, f FLOAT, fu FLOAT UNSIGNED, fd FLOAT(7,4));
INSERT INTO floats VALUES (1, 16777216, 16777217, 1.2345), (2, 3.1415927, 3.4028234e38, -0.5),
  (3, 3.4028234e38, 1.17549435e-38, 999.9999), (4, -1.17549435e-38, 1.4e-45, NULL),
  (5, 1/3, 0.1, 0.0001), (6, -3.4028234e38, 7e-40, -999.9999);
CREATE TABLE stamps (id INT PRIMARY KEY, ts TIMESTAMP NULL DEFAULT '2000-01-01 00:00:00',
  dt DATETIME);
INSERT INTO stamps VALUES (1, '2021-10-31 00:30:00', '2021-10-31 00:30:00'),
  (2, '2021-10-31 01:30:00', '2021-10-31 01:30:00'), (3, '1970-01-01 00:00:01', NULL),
  (4, '2038-01-19 03:14:07', '9999-12-31 23:59:59');
CREATE TABLE odd_values (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, e ENUM('x','y'), d DATE);
INSERT INTO odd_values VALUES (0, 'x', '2001-02-29'), (1, 'not a member', '0000-00-00'),
  (2, 'y', '2004-02-31');
CREATE TABLE computed (a INT, b VARCHAR(10), v INT AS (a * 2) VIRTUAL,
  s VARCHAR(21) AS (CONCAT(b, '!')) STORED, i INT AS (a + 1) VIRTUAL INVISIBLE, KEY (s));
INSERT INTO computed (a, b) VALUES (1, 'x'), (NULL, NULL), (3, 'ä😀');
CREATE TABLE collated (code VARCHAR(5) COLLATE utf8mb4_bin NOT NULL,
  lat VARCHAR(10) CHARACTER SET latin1 COLLATE latin1_german2_ci, UNIQUE KEY (code));
INSERT INTO collated VALUES ('a', 'Müller'), ('A', 'straße');
CREATE TABLE defaults (n INT, tx TEXT DEFAULT 'it''s \\ x', bl BLOB DEFAULT 'hello',
  tq TINYTEXT DEFAULT '''quoted''', v VARCHAR(10) DEFAULT '''q''');
INSERT INTO defaults (n) VALUES (1);
)sql";

const char kEveryObjectSchema[] = R"sql(
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
SET check_constraint_checks = 0;
CREATE TABLE unchecked (id INT PRIMARY KEY, qty INT CHECK (qty > 0),
  CONSTRAINT small CHECK (id < 10));
INSERT INTO unchecked VALUES (1, -5), (20, 3);
SET check_constraint_checks = 1;
CREATE TABLE big5_members (id INT PRIMARY KEY,
  e ENUM('a', X'C840', X'C841', X'A4A4', 'it''s', 'b\\c') CHARACTER SET big5 NOT NULL
    DEFAULT X'C841',
  s SET('b', X'C840', X'C841') CHARACTER SET big5 DEFAULT X'622CC841');
INSERT INTO big5_members VALUES (1, X'C840', X'C840'), (2, X'C841', X'C8412C62'), (3, 'b\\c', '');
CREATE TABLE big5_empty (e ENUM(X'C840', 'x') CHARACTER SET big5 NOT NULL DEFAULT X'C840');
CREATE TABLE number_defaults (b BLOB DEFAULT 1, t TEXT DEFAULT -2.5e3, u TEXT DEFAULT '1');
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

const char* const kHiddenQueries[3] = {
    "SELECT id, v, note, ROW_START, ROW_END FROM versioned FOR SYSTEM_TIME ALL ORDER BY 1, 4",
    "SELECT id, v, since, until FROM periods FOR SYSTEM_TIME ALL ORDER BY 1, 3",
    "SELECT id, e + 0, HEX(CAST(e AS BINARY)), HEX(CAST(s AS BINARY)),"
    " HEX(CAST(DEFAULT(e) AS BINARY)), HEX(CAST(DEFAULT(s) AS BINARY)) FROM big5_members"
    " ORDER BY 1"};

const char kStoredPrograms[] = R"sql(
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

}  // namespace vaultwick::test
