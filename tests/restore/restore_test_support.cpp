#include "tests/restore/restore_test_support.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "backup/dump_database.h"
#include "zip/zip_single_file.h"

namespace vaultwick::test {

const char kAwkward[] = R"sql(
SET sql_mode = 'ALLOW_INVALID_DATES', time_zone = '+05:30';
CREATE TABLE z_parent (id INT PRIMARY KEY, label VARCHAR(40)) ENGINE=InnoDB;
CREATE TABLE a_child (id INT PRIMARY KEY, parent INT NOT NULL,
  note TEXT, hidden INT INVISIBLE DEFAULT 7, twice INT AS (id * 2) VIRTUAL,
  FOREIGN KEY (parent) REFERENCES z_parent (id)) ENGINE=InnoDB;
CREATE TABLE `semi;colon ``VALUES(` (`k ey` VARCHAR(10) PRIMARY KEY, v BLOB, f FLOAT, d DATE,
  ts TIMESTAMP NULL, e ENUM('a','b'), j JSON) ENGINE=Aria;
INSERT INTO z_parent VALUES (1, 'ends with;'), (2, 'x;\r\n;'), (3, 'quote '' and \\ slash');
INSERT INTO a_child (id, parent, note, hidden) VALUES (1, 1, 'line\nbreak', 42),
  (2, 2, NULL, NULL), (3, 3, '😀 naïve Ωμέγα', 0);
INSERT INTO `semi;colon ``VALUES(` VALUES ('a', X'000A0D3B27225C', 16777216, '2001-02-29',
  '2020-03-29 01:30:00', '', '{"a": ";"}'), (';', REPEAT('b', 1500000), -3.1415927, NULL, NULL,
  'b', NULL);
CREATE TABLE many (id INT PRIMARY KEY, filler VARCHAR(100)) ENGINE=InnoDB;
INSERT INTO many SELECT seq, REPEAT(CHAR(65 + seq % 26), 60 + seq % 40) FROM seq_1_to_30000;
CREATE SEQUENCE tickets START WITH 10;
CREATE VIEW parents_with_notes AS SELECT p.label, c.note FROM z_parent p JOIN a_child c
  ON c.parent = p.id WHERE c.note <> ';';
CREATE FUNCTION twice(x INT) RETURNS INT DETERMINISTIC RETURN x * 2;
CREATE PROCEDURE count_many(OUT n INT)
BEGIN
  -- it's a comment with a quote;
  SELECT COUNT(*) INTO n FROM many;
  SELECT ';
';
END;
CREATE TRIGGER mark BEFORE INSERT ON z_parent FOR EACH ROW SET NEW.label = CONCAT(NEW.label, ';');
CREATE EVENT tidy ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE DO DELETE FROM many;
)sql";

void RestoreTest::SetUp() {
  VAULTWICK_REQUIRE_TEST_SERVER(found);
  server_ = found;
}

void RestoreTest::TearDown() {
  for (const std::string& path : scratch_) {
    std::remove(path.c_str());
  }
}

std::string RestoreTest::Scratch(const std::string& suffix) {
  scratch_.push_back(ScratchPath("restore") + suffix);
  return scratch_.back();
}

std::string RestoreTest::DumpOf(const TestDatabase& database) {
  const std::string dumpPath = Scratch(".sql");
  const DumpOutcome outcome = DumpDatabase(database.connection(), dumpPath.c_str(), nullptr);
  EXPECT_EQ(outcome.failedQueries, 0) << outcome.cause;
  return ReadWholeFile(dumpPath).value_or("");
}

std::string RestoreTest::Archive(const TestDatabase* database, const std::string& dump) {
  const std::string dumpPath = Scratch(".sql");
  std::ofstream(dumpPath, std::ios::binary) << (database != nullptr ? DumpOf(*database) : dump);
  const std::string archive = Scratch(".zip");
  EXPECT_EQ(ZipSingleFile(dumpPath.c_str(), archive.c_str()), ZipResult::Ok);
  return archive;
}

RestoreRequest RestoreTest::Request(const std::string& archive, const std::string& database) const {
  RestoreRequest request;
  request.archivePath = archive;
  request.server = LoginTo(server_, database);
  return request;
}

bool RestoreTest::DatabaseExists(const TestDatabase& any, const std::string& name) const {
  std::vector<ResultRow> rows;
  EXPECT_TRUE(any.Query(
      "SELECT 1 FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = '" + name + "'", &rows));
  return !rows.empty();
}

std::vector<std::string> RestoreTest::StagingLeft(const TestDatabase& any,
                                                  const std::string& target) const {
  std::vector<ResultRow> rows;
  EXPECT_TRUE(
      any.Query("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME "
                "LIKE '" +
                    target + "\\_vwstage\\_%'",
                &rows));
  std::vector<std::string> names;
  for (const ResultRow& row : rows) {
    names.push_back(*row[0]);
  }
  return names;
}

LoadGate::LoadGate(const TestDatabase& holder) : holder_(holder) {
  std::vector<ResultRow> rows;
  EXPECT_TRUE(holder_.Query("SELECT GET_LOCK('" + holder_.name() + "', 0)", &rows));
  EXPECT_EQ(rows, std::vector<ResultRow>{{"1"}});
  closed_ = true;
}

LoadGate::~LoadGate() {
  Open();
}

std::string LoadGate::Statement() const {
  return "DO GET_LOCK('" + holder_.name() + "', 60);\r\n";
}

std::string LoadGate::Row(const std::string& table) const {
  return "INSERT INTO `" + table + "` VALUES(GET_LOCK('" + holder_.name() + "', 60));\r\n";
}

// The connections that wait at the gate.
std::vector<ResultRow> LoadGate::Waiting() const {
  std::vector<ResultRow> rows;
  EXPECT_TRUE(holder_.Query(
      "SELECT ID FROM information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() AND INFO LIKE "
      "'%GET_LOCK(''" +
          holder_.name() + "'', 60)%'",
      &rows));
  return rows;
}

bool LoadGate::AwaitLoad() const {
  for (int tries = 0; tries < 600; ++tries) {
    if (Waiting().size() == 1) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string LoadGate::LoadConnection() const {
  const std::vector<ResultRow> waiting = Waiting();
  return waiting.size() == 1 ? *waiting[0][0] : "";
}

void LoadGate::Open() {
  if (closed_) {
    std::vector<ResultRow> rows;
    EXPECT_TRUE(holder_.Query("SELECT RELEASE_LOCK('" + holder_.name() + "')", &rows));
    closed_ = false;
  }
}

LimitedLogin::LimitedLogin(const TestDatabase& admin, const std::vector<std::string>& grants)
    : admin_(admin), name_(admin.name() + "_login") {
  std::string sql = "CREATE USER '" + name_ + "'@'%' IDENTIFIED BY 'narrow'";
  for (const std::string& grant : grants) {
    sql += "; GRANT " + grant + " TO '" + name_ + "'@'%'";
  }
  EXPECT_TRUE(admin_.Execute(sql));
}

LimitedLogin::~LimitedLogin() {
  EXPECT_TRUE(admin_.Execute("DROP USER '" + name_ + "'@'%'"));
}

RestoreRequest LimitedLogin::As(RestoreRequest request) const {
  request.server.login = name_;
  request.server.password = "narrow";
  return request;
}

}  // namespace vaultwick::test
