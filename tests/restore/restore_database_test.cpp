// Restores against the private server: a backup of a database full of awkward
// objects and values comes back equal, and every way a restore can fail says
// so before (or exactly where) it touches the database.

#include "restore/restore_database.h"
#include "restore/verify_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "backup/dump_database.h"
#include "tests/backup/test_database.h"
#include "zip/zip_single_file.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using test::TestDatabase;

// Rows whose values a line-based splitter or a batching loader could get
// wrong, objects whose bodies hold the delimiter, keys that point forward.
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

class RestoreDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VAULTWICK_REQUIRE_TEST_SERVER(found);
    server_ = found;
  }
  void TearDown() override {
    for (const std::string& path : scratch_) {
      std::remove(path.c_str());
    }
  }

  // A new scratch file path ending in `suffix`, removed after the test.
  std::string Scratch(const std::string& suffix) {
    scratch_.push_back(test::ScratchPath("restore") + suffix);
    return scratch_.back();
  }

  // Packs `dump` text (or the dump of `database`) into an archive, as a backup does.
  std::string Archive(const TestDatabase* database, const std::string& dump = {}) {
    const std::string dumpPath = Scratch(".sql");
    if (database != nullptr) {
      const DumpOutcome outcome = DumpDatabase(database->connection(), dumpPath.c_str(), nullptr);
      EXPECT_EQ(outcome.failedQueries, 0) << outcome.cause;
    } else {
      std::ofstream(dumpPath, std::ios::binary) << dump;
    }
    const std::string archive = Scratch(".zip");
    EXPECT_EQ(ZipSingleFile(dumpPath.c_str(), archive.c_str()), ZipResult::Ok);
    return archive;
  }

  RestoreRequest Request(const std::string& archive, const std::string& database) const {
    RestoreRequest request;
    request.archivePath = archive;
    request.server.host = server_.host + ":" + std::to_string(server_.port);
    request.server.login = server_.user;
    request.server.password = server_.password;
    request.server.database = database;
    return request;
  }

  bool DatabaseExists(const TestDatabase& any, const std::string& name) const {
    std::vector<test::ResultRow> rows;
    EXPECT_TRUE(any.Query(
        "SELECT 1 FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = '" + name + "'", &rows));
    return !rows.empty();
  }

  test::TestServer server_;
  std::vector<std::string> scratch_;
};

TEST_F(RestoreDatabaseTest, AwkwardDatabaseComesBackEqual) {
  TestDatabase original(server_, "awkward");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(kAwkward));
  const std::string archive = Archive(&original);

  TestDatabase restored(server_, "restored");
  std::vector<RestoreProgress> seen;
  const RestoreOutcome outcome = RestoreDatabase(
      Request(archive, restored.name()), [&](const RestoreProgress& p) { seen.push_back(p); });
  ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message << "\n"
                                                     << outcome.statement;
  EXPECT_EQ(outcome.rows, 30008u);
  test::SchemaSummary before;
  test::SchemaSummary after;
  ASSERT_TRUE(test::SummarizeSchema(original, &before));
  ASSERT_TRUE(test::SummarizeSchema(restored, &after));
  EXPECT_EQ(after, before);
  std::vector<test::ResultRow> rows;
  ASSERT_TRUE(restored.Query("SELECT hidden FROM a_child ORDER BY id", &rows));
  EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"42"}, {std::nullopt}, {"0"}}));

  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().phase, RestoreProgress::Phase::Checking);
  EXPECT_EQ(seen.back().phase, RestoreProgress::Phase::Loading);
  EXPECT_EQ(seen.back().bytesDone, seen.back().bytesTotal);
  EXPECT_EQ(seen.back().rows, 30008u);
}

TEST_F(RestoreDatabaseTest, UnusableArchivesAreRefusedBeforeTheDatabaseIsTouched) {
  TestDatabase any(server_, "any");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string dump = "SET NAMES utf8mb4;\r\nCREATE TABLE `t`(\r\n\t`id` int\r\n);\r\n" +
                           std::string(200000, '\n') + "INSERT INTO `t` VALUES('1');\r\n";
  const std::string good = Archive(nullptr, dump);
  const std::string bytes = *test::ReadWholeFile(good);

  struct Unusable {
    std::string path;
    std::string says;  // part of the message
  };
  std::vector<Unusable> archives;
  std::string damaged = bytes;
  damaged[bytes.size() / 3] = static_cast<char>(damaged[bytes.size() / 3] ^ 0x20);
  archives.push_back({Scratch(".zip"), ".sql is damaged: "});
  std::ofstream(archives.back().path, std::ios::binary) << damaged;
  archives.push_back({Scratch(".zip"), "not a whole ZIP archive (cut short"});
  std::ofstream(archives.back().path, std::ios::binary) << bytes.substr(0, bytes.size() - 30);
  archives.push_back({Scratch(".zip"), "No .sql member in the archive"});
  {
    ZipHandle* handle = openZipWriter(archives.back().path.c_str(), 0, ZipTargetKind::FileName);
    ASSERT_EQ(addZipMember(handle, "notes.txt", "x", 1, ZipSourceKind::Memory), ZipResult::Ok);
    ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  }
  archives.push_back({Archive(nullptr, dump.substr(0, dump.size() - 10)),
                      "ends inside the statement that starts on line 200005"});
  archives.push_back({Scratch(".zip"), "cannot be opened: No such file or directory"});

  const std::string never = any.name() + "_never";
  for (const Unusable& unusable : archives) {
    const RestoreOutcome outcome = RestoreDatabase(Request(unusable.path, never));
    EXPECT_EQ(outcome.result, RestoreResult::ArchiveUnusable) << unusable.says;
    EXPECT_NE(outcome.message.find(unusable.says), std::string::npos) << outcome.message;
    EXPECT_FALSE(DatabaseExists(any, never)) << unusable.says;
  }

  RestoreRequest stopped = Request(good, never);
  stopped.stop.RequestStop();
  EXPECT_EQ(RestoreDatabase(stopped).result, RestoreResult::Stopped);
  EXPECT_FALSE(DatabaseExists(any, never));
}

// A backup may replace the archive while a restore reads it: what is loaded
// is the archive that was checked, not whatever the path names by then.
TEST_F(RestoreDatabaseTest, TheArchiveCheckedIsTheArchiveLoaded) {
  TestDatabase target(server_, "swapped");
  ASSERT_TRUE(target.ok()) << target.error();
  auto dump = [](const char* table) {
    return std::string("CREATE TABLE `") + table + "`(\r\n\t`v` longtext\r\n);\r\nINSERT INTO `" +
           table + "` VALUES('" + std::string(3 << 20, 'x') + "');\r\n";
  };
  const std::string checked = Archive(nullptr, dump("checked"));
  const std::string newer = Archive(nullptr, dump("newer"));
  bool swapped = false;
  const RestoreOutcome outcome =
      RestoreDatabase(Request(checked, target.name()), [&](const RestoreProgress& progress) {
        if (progress.phase == RestoreProgress::Phase::Checking && progress.bytesDone > 0 &&
            !swapped) {
          swapped = std::rename(newer.c_str(), checked.c_str()) == 0;
        }
      });
  ASSERT_TRUE(swapped);
  ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message;
  std::vector<test::ResultRow> rows;
  ASSERT_TRUE(
      target.Query("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" +
                       target.name() + "'",
                   &rows));
  EXPECT_EQ(rows, std::vector<test::ResultRow>{{"checked"}});
}

TEST_F(RestoreDatabaseTest, DatabaseWithTablesIsReplacedOnlyWhenAskedAndOnlyWhatTheDumpHolds) {
  TestDatabase original(server_, "source");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(
      "CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1), (2);"
      "CREATE VIEW v AS SELECT id FROM t; CREATE FUNCTION f() RETURNS INT RETURN 1;"));
  const std::string archive = Archive(&original);

  TestDatabase target(server_, "target");
  ASSERT_TRUE(target.ok()) << target.error();
  ASSERT_TRUE(target.Execute(
      "CREATE TABLE t (old INT); INSERT INTO t VALUES (9); CREATE TABLE keep (k INT);"
      "CREATE VIEW v AS SELECT old FROM t; CREATE FUNCTION f() RETURNS INT RETURN 2;"));
  RestoreRequest request = Request(archive, target.name());
  EXPECT_EQ(RestoreDatabase(request).result, RestoreResult::DatabaseNotEmpty);
  std::vector<test::ResultRow> rows;
  ASSERT_TRUE(target.Query("SELECT old FROM t", &rows));
  EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"9"}}));

  request.replace = true;
  const RestoreOutcome outcome = RestoreDatabase(request);
  ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message;
  ASSERT_TRUE(target.Query("SELECT id FROM v ORDER BY id", &rows));
  EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"1"}, {"2"}}));
  ASSERT_TRUE(target.Query("SELECT f(), COUNT(*) FROM keep", &rows));
  EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"1", "0"}}));

  // A routine alone is reason enough: the load would stop at it, rows in.
  TestDatabase routineOnly(server_, "routine");
  ASSERT_TRUE(routineOnly.ok()) << routineOnly.error();
  ASSERT_TRUE(routineOnly.Execute("CREATE FUNCTION f() RETURNS INT RETURN 2"));
  const RestoreOutcome refused = RestoreDatabase(Request(archive, routineOnly.name()));
  EXPECT_EQ(refused.result, RestoreResult::DatabaseNotEmpty) << refused.message;
  ASSERT_TRUE(routineOnly.Query(
      "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()", &rows));
  EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"0"}}));
}

TEST_F(RestoreDatabaseTest, RefusedStatementIsNamedByItsLine) {
  TestDatabase target(server_, "refused");
  ASSERT_TRUE(target.ok()) << target.error();
  const std::string rows =
      "INSERT INTO `%` VALUES('1');\r\nINSERT INTO `%` VALUES('2');\r\n"
      "INSERT INTO `%` VALUES('1');\r\nINSERT INTO `%` VALUES('3');\r\n";
  auto dump = [&](const char* engine) {
    std::string text = std::string("CREATE TABLE `%`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ") +
                       "ENGINE=" + engine + ";\r\n" + rows;
    for (std::size_t at; (at = text.find('%')) != std::string::npos;) {
      text.replace(at, 1, engine);
    }
    return text;
  };
  // Rows in a transactional table: the one refused row is found.
  RestoreOutcome outcome =
      RestoreDatabase(Request(Archive(nullptr, dump("InnoDB")), target.name()));
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.line, 6u);
  EXPECT_NE(outcome.message.find("Duplicate entry '1'"), std::string::npos) << outcome.message;
  EXPECT_EQ(outcome.statement, "INSERT INTO `InnoDB` VALUES('1')");

  // Elsewhere the rows before it may be in the table: the batch is named whole.
  outcome = RestoreDatabase(Request(Archive(nullptr, dump("Aria")), target.name() + "_aria"));
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.line, 4u);
  EXPECT_NE(outcome.message.find("(in the rows of lines 4 to 7)"), std::string::npos)
      << outcome.message;
  EXPECT_TRUE(target.Execute("DROP DATABASE `" + target.name() + "_aria`"));
}

// A host that names no server says so (it once said nothing after the colon).
TEST(VerifyRestoreTest, HostThatNamesNoServerSaysSo) {
  RestoreRequest request;
  request.archivePath = "never-read.zip";
  request.server.host = "[::1";
  request.server.database = "scratch";
  const VerifyRestoreOutcome outcome = VerifyRestore(request);
  EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Failed);
  EXPECT_EQ(outcome.detail, "Can't connect to MySQL server: Not a server address: \"[::1\"");
}

TEST_F(RestoreDatabaseTest, VerifyRestoreComparesTheDumpsStatementByStatement) {
  TestDatabase original(server_, "verify");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(kAwkward));
  const std::string scratch = original.name() + "_scratch";
  VerifyRestoreOutcome outcome = VerifyRestore(Request(Archive(&original), scratch));
  EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Verified) << outcome.detail;
  EXPECT_FALSE(DatabaseExists(original, scratch));

  // An archived dump that does not come back as written: '0017' is read back as '17'.
  const std::string dumpPath = Scratch(".sql");
  ASSERT_EQ(DumpDatabase(original.connection(), dumpPath.c_str(), nullptr).failedQueries, 0);
  std::string dump = *test::ReadWholeFile(dumpPath);
  const std::size_t row = dump.find("INSERT INTO `many` VALUES('17',");
  ASSERT_NE(row, std::string::npos);
  dump.replace(row, 31, "INSERT INTO `many` VALUES('0017',");
  const std::size_t line =
      1 + static_cast<std::size_t>(
              std::count(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(row), '\n'));
  outcome = VerifyRestore(Request(Archive(nullptr, dump), scratch));
  EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Differs);
  EXPECT_NE(outcome.detail.find("line " + std::to_string(line) + " of the archived dump"),
            std::string::npos)
      << outcome.detail;
  EXPECT_FALSE(DatabaseExists(original, scratch));

  // A database that holds anything is never taken for a scratch database.
  TestDatabase routineOnly(server_, "routine");
  ASSERT_TRUE(routineOnly.Execute("CREATE FUNCTION f() RETURNS INT RETURN 1"));
  for (const TestDatabase* taken : {&original, &routineOnly}) {
    outcome = VerifyRestore(Request(Archive(&original), taken->name()));
    EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Failed);
    EXPECT_NE(outcome.detail.find("is not empty"), std::string::npos) << outcome.detail;
    EXPECT_TRUE(DatabaseExists(original, taken->name()));
  }
  std::vector<test::ResultRow> rows;
  ASSERT_TRUE(routineOnly.Query("SELECT f()", &rows));
}

// A stop cuts the test restore's connection wherever it waits (here for a
// lock this test holds); the scratch database goes all the same.
TEST_F(RestoreDatabaseTest, StoppedVerifyRestoreStillDropsItsScratchDatabase) {
  TestDatabase holder(server_, "holder");
  ASSERT_TRUE(holder.ok()) << holder.error();
  const std::string lock = "'" + holder.name() + "'";
  std::vector<test::ResultRow> rows;
  ASSERT_TRUE(holder.Query("SELECT GET_LOCK(" + lock + ", 0)", &rows));
  ASSERT_EQ(rows, std::vector<test::ResultRow>{{"1"}});
  rows.clear();
  const std::string waiting = "DO GET_LOCK(" + lock + ", 60)";
  const std::string scratch = holder.name() + "_scratch";
  RestoreRequest request = Request(
      Archive(nullptr, "CREATE TABLE `t`(\r\n\t`id` int\r\n);\r\nINSERT INTO `t` VALUES('1');\r\n" +
                           waiting + ";\r\n"),
      scratch);
  VerifyRestoreOutcome outcome;
  std::thread verify([&] { outcome = VerifyRestore(request); });
  const std::string waits = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO = '" +
                            std::string("DO GET_LOCK(''") + holder.name() + "'', 60)'";
  for (int tries = 0; tries < 600 && rows != std::vector<test::ResultRow>{{"1"}}; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(holder.Query(waits, &rows));
  }
  EXPECT_EQ(rows, std::vector<test::ResultRow>{{"1"}}) << "the test restore never waited";
  request.stop.RequestStop();
  EXPECT_TRUE(holder.Query("SELECT RELEASE_LOCK(" + lock + ")", &rows));
  verify.join();
  EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Failed);
  EXPECT_EQ(outcome.detail, "Stopped on request");
  EXPECT_FALSE(DatabaseExists(holder, scratch));
}

}  // namespace
}  // namespace vaultwick
