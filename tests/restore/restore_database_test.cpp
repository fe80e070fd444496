// Restores against the private server: a backup of a database full of awkward
// objects and values comes back equal, and every way a restore can fail says
// so before (or exactly where) it touches the database.

#include "restore/restore_database.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "restore/deferred_keys.h"
#include "restore/dump_statements.h"
#include "tests/restore/restore_test_support.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using test::kAwkward;
using test::ResultRow;
using test::TestDatabase;
using RestoreDatabaseTest = test::RestoreTest;

// On one connection and on several (each table's rows on one of them, and
// what comes after the rows once all are in).
TEST_F(RestoreDatabaseTest, AwkwardDatabaseComesBackEqual) {
  TestDatabase original(server_, "awkward");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(kAwkward));
  const std::string archive = Archive(&original);
  test::SchemaSummary before;
  ASSERT_TRUE(test::SummarizeSchema(original, &before));

  for (const unsigned jobs : {1u, 4u}) {
    SCOPED_TRACE(jobs);
    TestDatabase restored(server_, "restored");
    std::vector<RestoreProgress> seen;
    RestoreRequest request = Request(archive, restored.name());
    request.jobs = jobs;
    const RestoreOutcome outcome =
        RestoreDatabase(request, [&](const RestoreProgress& p) { seen.push_back(p); });
    ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message << "\n"
                                                       << outcome.statement;
    EXPECT_EQ(outcome.rows, 30008u);
    test::SchemaSummary after;
    ASSERT_TRUE(test::SummarizeSchema(restored, &after));
    EXPECT_EQ(after, before);
    std::vector<test::ResultRow> rows;
    ASSERT_TRUE(restored.Query("SELECT hidden FROM a_child ORDER BY id", &rows));
    EXPECT_EQ(rows, (std::vector<test::ResultRow>{{"42"}, {std::nullopt}, {"0"}}));

    // Through a staging database the dump is read once, its size known
    // from the archive's headers before the first byte.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().phase, RestoreProgress::Phase::Loading);
    EXPECT_EQ(seen.front().bytesTotal, seen.back().bytesTotal);
    EXPECT_EQ(seen.back().phase, RestoreProgress::Phase::Loading);
    EXPECT_EQ(seen.back().bytesDone, seen.back().bytesTotal);
    EXPECT_EQ(seen.back().rows, 30008u);
    EXPECT_EQ(seen.back().connections, 0u);
  }
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

  // The same whether the archive is proved before a load in place or by the
  // load into a staging database.
  const std::string never = any.name() + "_never";
  for (const bool inPlace : {false, true}) {
    for (const Unusable& unusable : archives) {
      RestoreRequest request = Request(unusable.path, never);
      request.loadInPlace = inPlace;
      const RestoreOutcome outcome = RestoreDatabase(request);
      EXPECT_EQ(outcome.result, RestoreResult::ArchiveUnusable) << unusable.says << inPlace;
      EXPECT_NE(outcome.message.find(unusable.says), std::string::npos) << outcome.message;
      EXPECT_EQ(outcome.rows, 0u) << unusable.says << inPlace;
      EXPECT_FALSE(DatabaseExists(any, never)) << unusable.says << inPlace;
    }
  }
  EXPECT_EQ(StagingLeft(any, never), std::vector<std::string>{});

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
        if (progress.bytesDone > 0 && !swapped) {
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

// What the dump makes replaces whatever of the target has its name, of any
// kind: a table where the dump has a view, a trigger of the same name on a
// table the dump does not have. Everything else stays.
TEST_F(RestoreDatabaseTest, DatabaseWithTablesIsReplacedOnlyWhenAskedAndOnlyWhatTheDumpHolds) {
  TestDatabase original(server_, "source");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(
      "CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1), (2);"
      "CREATE VIEW v AS SELECT id FROM t; CREATE FUNCTION f() RETURNS INT RETURN 1;"
      "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET NEW.id = NEW.id + 10;"));
  const std::string archive = Archive(&original);

  TestDatabase target(server_, "target");
  ASSERT_TRUE(target.ok()) << target.error();
  ASSERT_TRUE(target.Execute(
      "CREATE TABLE t (old INT); INSERT INTO t VALUES (9); CREATE TABLE keep (k INT);"
      "CREATE TABLE v (old INT); CREATE FUNCTION f() RETURNS INT RETURN 2;"
      "CREATE TRIGGER tr BEFORE INSERT ON keep FOR EACH ROW SET NEW.k = 5;"));
  RestoreRequest request = Request(archive, target.name());
  EXPECT_EQ(RestoreDatabase(request).result, RestoreResult::DatabaseNotEmpty);
  std::vector<ResultRow> rows;
  ASSERT_TRUE(target.Query("SELECT old FROM t", &rows));
  EXPECT_EQ(rows, (std::vector<ResultRow>{{"9"}}));

  request.replace = true;
  const RestoreOutcome outcome = RestoreDatabase(request);
  ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message;
  EXPECT_EQ(outcome.message, "");
  ASSERT_TRUE(target.Query("SELECT id FROM v ORDER BY id", &rows));
  EXPECT_EQ(rows, (std::vector<ResultRow>{{"1"}, {"2"}}));
  ASSERT_TRUE(target.Execute("INSERT INTO t VALUES (3); INSERT INTO keep VALUES (3)"));
  ASSERT_TRUE(target.Query("SELECT f(), (SELECT MAX(id) FROM t), k FROM keep", &rows));
  EXPECT_EQ(rows, (std::vector<ResultRow>{{"1", "13", "3"}}));
  EXPECT_EQ(StagingLeft(target, target.name()), std::vector<std::string>{});

  // A routine alone is reason enough: the load would stop at it, rows in.
  TestDatabase routineOnly(server_, "routine");
  ASSERT_TRUE(routineOnly.ok()) << routineOnly.error();
  ASSERT_TRUE(routineOnly.Execute("CREATE FUNCTION f() RETURNS INT RETURN 2"));
  const RestoreOutcome refused = RestoreDatabase(Request(archive, routineOnly.name()));
  EXPECT_EQ(refused.result, RestoreResult::DatabaseNotEmpty) << refused.message;
  ASSERT_TRUE(routineOnly.Query(
      "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE()", &rows));
  EXPECT_EQ(rows, (std::vector<ResultRow>{{"0"}}));
}

// A refused row is named by its own line and the server's text, whatever
// its table's engine: in a transactional table the batch left nothing, in
// another the rows before it are in the table already.
TEST_F(RestoreDatabaseTest, RefusedStatementIsNamedByItsLine) {
  TestDatabase any(server_, "refused");
  ASSERT_TRUE(any.ok()) << any.error();
  for (const std::string engine : {"InnoDB", "Aria", "MyISAM"}) {
    const std::string dump = "CREATE TABLE `" + engine +
                             "`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ENGINE=" + engine +
                             ";\r\nINSERT INTO `" + engine + "` VALUES('1');\r\nINSERT INTO `" +
                             engine + "` VALUES('2');\r\nINSERT INTO `" + engine +
                             "` VALUES('1');\r\nINSERT INTO `" + engine + "` VALUES('3');\r\n";
    const std::string target = any.name() + "_" + engine;
    const RestoreOutcome outcome = RestoreDatabase(Request(Archive(nullptr, dump), target));
    EXPECT_EQ(outcome.result, RestoreResult::StatementFailed) << engine;
    EXPECT_EQ(outcome.line, 6u) << engine;
    EXPECT_EQ(outcome.message,
              "Duplicate entry '1' for key 'PRIMARY'; database " + target + " was not changed");
    EXPECT_EQ(outcome.statement, "INSERT INTO `" + engine + "` VALUES('1')");
    EXPECT_FALSE(DatabaseExists(any, target));
  }
}

// Plain keys are added after the rows (see deferred_keys.h): the tables come
// out as the server shows them when made whole, with rows or without, on one
// connection and on several; an ALTER the server refuses fails the load.
TEST_F(RestoreDatabaseTest, KeysAddedAfterTheRowsMakeTheSameTables) {
  TestDatabase original(server_, "keyed");
  ASSERT_TRUE(original.ok()) << original.error();
  const std::string table =
      "(id INT AUTO_INCREMENT PRIMARY KEY, u VARCHAR(20) NOT NULL, w TEXT, n INT,"
      " KEY by_w (w(10), n DESC), UNIQUE KEY u (u), KEY by_n (n), KEY by_u_n (u, n))";
  ASSERT_TRUE(
      original.Execute("CREATE TABLE filled " + table + "; CREATE TABLE empty " + table +
                       "; INSERT INTO filled (u, w, n) VALUES ('a', 'x', 1), ('b', NULL, 2),"
                       " ('c', 'xyz', NULL);"));
  const std::string archive = Archive(&original);
  std::size_t deferred = 0;
  DumpStatementSplitter splitter([&](StatementText& statement, std::uint64_t) {
    deferred += DeferPlainKeys(statement) ? 1 : 0;
    return true;
  });
  const std::string dump = DumpOf(original);
  splitter.Feed(dump.data(), dump.size());
  ASSERT_TRUE(splitter.Finish());
  EXPECT_EQ(deferred, 2u);

  for (const unsigned jobs : {1u, 2u}) {
    SCOPED_TRACE(jobs);
    TestDatabase restored(server_, "restored");
    RestoreRequest request = Request(archive, restored.name());
    request.jobs = jobs;
    const RestoreOutcome outcome = RestoreDatabase(request);
    ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message;
    for (const std::string name : {"filled", "empty"}) {
      std::vector<ResultRow> shown;
      std::vector<ResultRow> made;
      ASSERT_TRUE(original.Query("SHOW CREATE TABLE " + name, &made));
      ASSERT_TRUE(restored.Query("SHOW CREATE TABLE " + name, &shown));
      EXPECT_EQ(shown, made);
    }
  }

  TestDatabase any(server_, "badkey");
  ASSERT_TRUE(any.ok()) << any.error();
  const RestoreOutcome refused = RestoreDatabase(
      Request(Archive(nullptr,
                      "CREATE TABLE `t`(\r\n\t`id` int NOT NULL,\r\n\tPRIMARY KEY (`id`),\r\n"
                      "\tKEY `k` (`nope`)\r\n);\r\nINSERT INTO `t` VALUES('1');\r\n"),
              any.name() + "_t"));
  EXPECT_EQ(refused.result, RestoreResult::StatementFailed);
  EXPECT_EQ(refused.line, 1u);
  EXPECT_EQ(refused.statement, "ALTER TABLE `t` ADD KEY `k` (`nope`)");
  EXPECT_FALSE(DatabaseExists(any, any.name() + "_t"));
}

}  // namespace
}  // namespace vaultwick
