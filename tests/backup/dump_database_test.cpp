// DumpDatabase against the private server: the exact file for a known
// database, the pieces it is written in, the stop and failed queries.

#include "backup/dump_database.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_database.h"

namespace vaultwick {
namespace {

using test::TestDatabase;
using ::testing::HasSubstr;

// Every dump opens with these lines and ends with the trailer.
const std::string kHeader =
    "SET NAMES utf8mb4;\r\nSET time_zone = '+00:00';\r\n"
    "SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO,ALLOW_INVALID_DATES';\r\nSET autocommit = 0;\r\n"
    "ALTER DATABASE CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;\r\n";
const std::string kTrailer = "COMMIT;\r\n";

struct DumpRun {
  DumpOutcome outcome;
  std::string file;
  std::vector<std::string> statusTexts;
};

DumpRun Dump(MYSQL* connection) {
  DumpRun run;
  std::string path = test::ScratchPath("dump");
  run.outcome = DumpDatabase(connection, path.c_str(),
                             [&](const char* text) { run.statusTexts.emplace_back(text); });
  run.file = test::ReadWholeFile(path).value_or("<no file>");
  std::remove(path.c_str());
  return run;
}

TEST(DumpDatabase, WritesTheCustomerExampleByteForByte) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "example");
  // The example's server showed an empty text where today's show no default
  // (NULL): name has none. A real DEFAULT '' gets its clause.
  ASSERT_TRUE(
      db.Execute("CREATE TABLE customer (id int(11) NOT NULL AUTO_INCREMENT,"
                 " name varchar(40) NOT NULL, city varchar(30),"
                 " credit decimal(8,2) NOT NULL DEFAULT 0.00, PRIMARY KEY (id),"
                 " KEY name_city (name, city), FULLTEXT KEY ft_name (name)) ENGINE=InnoDB;"
                 "INSERT INTO customer VALUES (1, 'O''Hara', 'Cork', 12.50),"
                 " (2, 'Smith\\\\Jones', NULL, 0.00);"
                 "CREATE TABLE note (txt text)"));

  DumpRun run = Dump(db.connection());
  EXPECT_EQ(run.file, kHeader +
                          "CREATE TABLE `customer`(\r\n"
                          "\t`id` int(11) NOT NULL auto_increment,\r\n"
                          "\t`name` varchar(40) NOT NULL ,\r\n"
                          "\t`city` varchar(30) ,\r\n"
                          "\t`credit` decimal(8,2) NOT NULL DEFAULT '0.00' ,\r\n"
                          "\tPRIMARY KEY (`id`),\r\n"
                          "\tKEY `name_city` (`name`,`city`),\r\n"
                          "\tFULLTEXT `ft_name` (`name`)\r\n"
                          ") AUTO_INCREMENT=3;\r\n"
                          "INSERT INTO `customer` VALUES('1','O\\'Hara','Cork','12.50');\r\n"
                          "INSERT INTO `customer` VALUES('2','Smith\\\\Jones',NULL,'0.00');\r\n"
                          "CREATE TABLE `note`(\r\n"
                          "\t`txt` text \r\n"
                          ");\r\n" +
                          kTrailer);
  EXPECT_EQ(run.outcome.rowsWritten, 2u);
  EXPECT_EQ(run.outcome.failedQueries, 0);
  EXPECT_FALSE(run.outcome.writeFailed);
  EXPECT_EQ(run.statusTexts,
            (std::vector<std::string>{"DESCRIBE `customer`", "SHOW KEYS FROM `customer`",
                                      "SELECT * FROM `customer`", "DESCRIBE `note`",
                                      "SHOW KEYS FROM `note`", "SELECT * FROM `note`"}));
}

TEST(DumpDatabase, DatabaseWithoutTablesGivesTheHeaderAndAFailedTableListIsFatal) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "empty");
  ASSERT_TRUE(db.ok()) << db.error();
  DumpRun run = Dump(db.connection());
  EXPECT_EQ(run.file, kHeader + kTrailer);
  EXPECT_EQ(run.outcome.failedQueries, 0);
  EXPECT_FALSE(run.outcome.serverLost);
  EXPECT_EQ(run.outcome.cause, "");

  // With no database selected the table list cannot be read: the dump as a
  // whole is worthless.
  std::string error;
  MYSQL* bare = test::ConnectToTestServer(server, nullptr, &error);
  ASSERT_NE(bare, nullptr) << error;
  run = Dump(bare);
  mysql_close(bare);
  EXPECT_TRUE(run.outcome.serverLost);
  EXPECT_THAT(run.outcome.cause, HasSubstr("database"));
  EXPECT_TRUE(run.outcome.failedTables.empty());
  EXPECT_FALSE(run.outcome.writeFailed);
}

// Rows of about 1000 characters, so that a few thousand make several pieces.
void FillWideTable(const TestDatabase& db, int rows) {
  ASSERT_TRUE(db.Execute(
      "CREATE TABLE wide (n int NOT NULL PRIMARY KEY, body text);"
      "INSERT INTO wide SELECT seq, CONCAT(REPEAT('line\\n''q''\\\\', 90), seq) FROM seq_1_to_" +
      std::to_string(rows)));
}

// Where the first piece ends: after the first INSERT that takes the dump text
// (counted with LF line ends) past 1000000 characters.
std::size_t FirstPieceEnd(const std::string& file) {
  std::size_t lineFeeds = 0;
  std::size_t position = 0;
  while ((position = file.find("\r\n", position)) != std::string::npos) {
    position += 2;
    ++lineFeeds;
    bool endsInsert = file.compare(position - 4, 2, ");") == 0;
    if (endsInsert && position - lineFeeds > 1000000)
      return position;
  }
  return std::string::npos;
}

// A named pipe in place of the dump file. The dump's first append cannot end
// before this side has read all of it (a piece is far larger than a pipe
// holds), so `atFirstPiece`, run as its first bytes arrive, acts while the
// dump is inside the rows of the table that filled the piece.
class PipedDumpFile {
 public:
  explicit PipedDumpFile(std::function<void()> atFirstPiece)
      : path_(test::ScratchPath("pipe")), done_(::eventfd(0, EFD_CLOEXEC)) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    // Open for both ends, so that the dump's opens never wait and its closes
    // between appends do not end the reading.
    const int pipe = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    reader_ = std::thread([this, pipe, atFirstPiece = std::move(atFirstPiece)] {
      pollfd waits[2] = {{pipe, POLLIN, 0}, {done_, POLLIN, 0}};
      for (bool dumpEnded = false; !dumpEnded;) {
        ::poll(waits, 2, -1);
        dumpEnded = (waits[1].revents & POLLIN) != 0;
        char block[1 << 16];
        for (ssize_t got; (got = ::read(pipe, block, sizeof block)) > 0;) {
          if (data_.empty()) {
            atFirstPiece();
          }
          data_.append(block, static_cast<std::size_t>(got));
        }
      }
      ::close(pipe);
    });
  }
  ~PipedDumpFile() {
    if (reader_.joinable()) {
      Collect();
    }
    ::close(done_);
    std::remove(path_.c_str());
  }

  const std::string& path() const { return path_; }

  // Once the dump has returned: everything it appended.
  std::string Collect() {
    const std::uint64_t one = 1;
    EXPECT_EQ(::write(done_, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    reader_.join();
    return data_;
  }

 private:
  std::string path_;
  int done_;
  std::string data_;
  std::thread reader_;
};

TEST(DumpDatabase, PiecesMakeTheSameFileAndAStopKeepsOnlyWholePieces) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "pieces");
  FillWideTable(db, 3000);

  DumpRun whole = Dump(db.connection());
  ASSERT_EQ(whole.outcome.rowsWritten, 3000u);
  ASSERT_GT(whole.file.size(), 3000000u);
  // Written in pieces, the file is still exactly one statement per row.
  std::string expected = kHeader +
                         "CREATE TABLE `wide`(\r\n\t`n` int(11) NOT NULL ,\r\n\t`body` text ,"
                         "\r\n\tPRIMARY KEY (`n`)\r\n);\r\n";
  std::string body;
  for (int i = 0; i < 90; ++i)
    body += "line\\n\\'q\\'\\\\";
  for (int n = 1; n <= 3000; ++n) {
    expected += "INSERT INTO `wide` VALUES('" + std::to_string(n) + "','" + body +
                std::to_string(n) + "');\r\n";
  }
  expected += kTrailer;
  EXPECT_TRUE(whole.file == expected) << "dump differs from the statements written at once";

  // A stop while the first piece goes out: the next row sees it, and only
  // that piece stays.
  std::size_t pieceEnd = FirstPieceEnd(whole.file);
  ASSERT_NE(pieceEnd, std::string::npos);
  std::uint64_t rowsInPiece = 0;
  for (std::size_t p = whole.file.find("INSERT"); p < pieceEnd;
       p = whole.file.find("INSERT", p + 1)) {
    ++rowsInPiece;
  }
  const StopToken stop;
  PipedDumpFile file([stop] { stop.RequestStop(); });
  // A stopped dump leaves its connection fit only for closing.
  std::string error;
  MYSQL* connection = db.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  const DumpOutcome stopped = DumpDatabase(connection, file.path().c_str(), nullptr, stop);
  mysql_close(connection);
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.rowsWritten, rowsInPiece);
  const std::string partial = file.Collect();
  EXPECT_EQ(partial.size(), pieceEnd);
  EXPECT_TRUE(partial == whole.file.substr(0, pieceEnd));
}

TEST(DumpDatabase, StopBeforeTheFirstPieceLeavesNoStatements) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "cancel");
  FillWideTable(db, 10);
  std::string path = test::ScratchPath("cancel");
  std::string error;
  MYSQL* connection = db.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  const StopToken stop;
  stop.RequestStop();
  const DumpOutcome outcome = DumpDatabase(connection, path.c_str(), nullptr, stop);
  mysql_close(connection);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.rowsWritten, 0u);
  // Nothing was appended, so there is not even a file.
  EXPECT_EQ(test::ReadWholeFile(path), std::nullopt);
  std::remove(path.c_str());
}

TEST(DumpDatabase, FailedQueriesLeaveTablesOutOrWithoutRows) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "failures");
  std::string user = "vw_limited_" + std::to_string(getpid());
  ASSERT_TRUE(
      db.Execute("CREATE TABLE a_gone (x int); CREATE VIEW b_broken AS SELECT x FROM a_gone;"
                 "DROP TABLE a_gone; CREATE TABLE c_secret (id int, pin float);"
                 "INSERT INTO c_secret VALUES (1, 1234); CREATE TABLE d_open (v int);"
                 "INSERT INTO d_open VALUES (7);"
                 "DROP USER IF EXISTS '" +
                 user + "'@'%'; CREATE USER '" + user +
                 "'@'%' IDENTIFIED BY 'pw';"
                 "GRANT SELECT (id) ON " +
                 db.name() + ".c_secret TO '" + user +
                 "'@'%';"
                 "GRANT SELECT ON " +
                 db.name() + ".d_open TO '" + user +
                 "'@'%';"
                 "GRANT SELECT, SHOW VIEW ON " +
                 db.name() + ".b_broken TO '" + user + "'@'%'"));

  test::TestServer limited = server;
  limited.user = user;
  limited.password = "pw";
  auto dumpAsLimited = [&] {
    std::string error;
    MYSQL* connection = test::ConnectToTestServer(limited, db.name().c_str(), &error);
    EXPECT_NE(connection, nullptr) << error;
    DumpRun run = connection != nullptr ? Dump(connection) : DumpRun();
    mysql_close(connection);
    return run;
  };
  DumpRun run = dumpAsLimited();

  // The broken view cannot be read, so it is left out; the secret table
  // shows only the granted column and cannot be read whole, so it has no rows
  // (its FLOAT column, read by name, must not hide that).
  EXPECT_EQ(run.file, kHeader +
                          "CREATE TABLE `c_secret`(\r\n\t`id` int(11) \r\n);\r\n"
                          "CREATE TABLE `d_open`(\r\n\t`v` int(11) \r\n);\r\n"
                          "INSERT INTO `d_open` VALUES('7');\r\n" +
                          kTrailer);
  EXPECT_EQ(run.outcome.rowsWritten, 1u);
  EXPECT_FALSE(run.outcome.serverLost);
  EXPECT_THAT(run.outcome.cause, HasSubstr("c_secret"));
  // What the login's privileges hide is named too, never silently missing:
  // the triggers of both tables, the routines and the events.
  EXPECT_EQ(run.outcome.failedTables, (std::vector<std::string>{"c_secret", "stored routines",
                                                                "b_broken", "d_open", "events"}));

  // With the privileges to see them, only what cannot be read stays named.
  ASSERT_TRUE(
      db.Execute("GRANT TRIGGER, EVENT, EXECUTE ON " + db.name() + ".* TO '" + user + "'@'%'"));
  run = dumpAsLimited();
  EXPECT_TRUE(db.Execute("DROP USER '" + user + "'@'%'"));
  EXPECT_EQ(run.outcome.failedTables, (std::vector<std::string>{"c_secret", "b_broken"}));
}

// Cuts the dump's connection from another one, as a server restart would.
void Kill(const TestDatabase& db, MYSQL* victim) {
  ASSERT_TRUE(db.Execute("KILL CONNECTION " + std::to_string(mysql_thread_id(victim))));
}

TEST(DumpDatabase, LostConnectionStopsTheDumpAtOnce) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "lost");
  ASSERT_TRUE(db.Execute("CREATE TABLE after_wide (v int); INSERT INTO after_wide VALUES (1)"));
  // About 10 MB, more than the socket buffers hold at once, so the cut lands
  // inside the row stream.
  FillWideTable(db, 10000);
  std::string error;

  // Between tables.
  MYSQL* connection = db.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  std::string path = test::ScratchPath("lost");
  DumpOutcome outcome = DumpDatabase(connection, path.c_str(), [&](const char* text) {
    if (std::string(text) == "SELECT * FROM `wide`")
      Kill(db, connection);
  });
  mysql_close(connection);
  EXPECT_TRUE(outcome.serverLost);
  EXPECT_NE(outcome.cause, "");
  EXPECT_TRUE(outcome.failedTables.empty());
  EXPECT_EQ(outcome.rowsWritten, 1u);
  std::remove(path.c_str());

  // Inside the rows of a table.
  connection = db.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  PipedDumpFile file([&] { Kill(db, connection); });
  outcome = DumpDatabase(connection, file.path().c_str(), nullptr);
  mysql_close(connection);
  EXPECT_TRUE(outcome.serverLost);
  EXPECT_NE(outcome.cause, "");
  EXPECT_TRUE(outcome.failedTables.empty());
  EXPECT_LT(outcome.rowsWritten, 10001u);
  EXPECT_FALSE(outcome.stopped);
}

TEST(DumpDatabase, AllTablesComeFromOneSnapshot) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "snapshot");
  ASSERT_TRUE(
      db.Execute("CREATE TABLE a_parent (id int PRIMARY KEY) ENGINE=InnoDB;"
                 "CREATE TABLE b_child (id int PRIMARY KEY, parent int) ENGINE=InnoDB;"
                 "INSERT INTO a_parent VALUES (1); INSERT INTO b_child VALUES (1, 1)"));
  std::string error;
  MYSQL* connection = db.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  // A parent and its child arrive after the parents were read.
  std::string path = test::ScratchPath("snapshot");
  DumpOutcome outcome = DumpDatabase(connection, path.c_str(), [&](const char* text) {
    if (std::string(text) == "DESCRIBE `b_child`") {
      EXPECT_TRUE(db.Execute("INSERT INTO a_parent VALUES (2); INSERT INTO b_child VALUES (2, 2)"));
    }
  });
  mysql_close(connection);
  std::string file = test::ReadWholeFile(path).value_or("<no file>");
  std::remove(path.c_str());
  EXPECT_EQ(outcome.rowsWritten, 2u);
  EXPECT_THAT(file, HasSubstr("INSERT INTO `b_child` VALUES('1','1');"));
  EXPECT_THAT(file, ::testing::Not(HasSubstr("VALUES('2'")));
}

TEST(DumpDatabase, UnwritableFileIsReported) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "unwritable");
  ASSERT_TRUE(db.Execute("CREATE TABLE t (v int); INSERT INTO t VALUES (1)"));
  DumpOutcome outcome = DumpDatabase(db.connection(), "/nonexistent-folder/dump.sql", nullptr);
  EXPECT_TRUE(outcome.writeFailed);
  // The connection stays usable.
  EXPECT_TRUE(db.Execute("SELECT 1"));
}

}  // namespace
}  // namespace vaultwick
