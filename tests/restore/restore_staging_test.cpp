// A restore changes its target only once the whole dump has loaded beside it:
// a load that fails, is stopped or loses its server leaves the target as it
// was (a new one not made), drops what it loaded, and says so.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "restore/restore_database.h"
#include "tests/restore/restore_test_support.h"

namespace vaultwick::test {
namespace {

using RestoreStagingTest = RestoreTest;

constexpr char kRows[] =
    "CREATE TABLE `t`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ENGINE=InnoDB;\r\n"
    "INSERT INTO `t` VALUES('1');\r\nINSERT INTO `t` VALUES('2');\r\n";

// A failed --replace: whatever the dump had made by then, the target holds
// exactly what it held, and nothing of the load stays on the server.
TEST_F(RestoreStagingTest, AReplaceThatFailsLeavesTheTargetAsItWas) {
  TestDatabase original(server_, "whole");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(kAwkward));
  TestDatabase target(server_, "kept");
  ASSERT_TRUE(target.ok()) << target.error();
  ASSERT_TRUE(target.Execute(
      "CREATE TABLE many (id INT); INSERT INTO many VALUES (9); CREATE TABLE keep (k INT);"
      "CREATE VIEW parents_with_notes AS SELECT id FROM many;"
      "CREATE FUNCTION twice(x INT) RETURNS INT RETURN x;"));
  SchemaSummary before;
  ASSERT_TRUE(SummarizeSchema(target, &before));

  // Fails at its last statement, after every table and routine was made.
  RestoreRequest request =
      Request(Archive(nullptr, DumpOf(original) + "CREATE VIEW `late` AS SELECT nothing;\r\n"),
              target.name());
  request.replace = true;
  const RestoreOutcome outcome = RestoreDatabase(request);
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.statement, "CREATE VIEW `late` AS SELECT nothing");
  EXPECT_NE(outcome.message.find("; database " + target.name() + " was not changed"),
            std::string::npos)
      << outcome.message;
  SchemaSummary after;
  ASSERT_TRUE(SummarizeSchema(target, &after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(StagingLeft(target, target.name()), std::vector<std::string>{});
}

// Through a staging database the archive is proved by the load's own
// reading: damage found after rows went in still leaves the target as it was,
// with the reason a check before the load would give.
TEST_F(RestoreStagingTest, AnArchiveFoundDamagedDuringTheLoadLeavesTheTargetAsItWas) {
  TestDatabase target(server_, "intact");
  ASSERT_TRUE(target.ok()) << target.error();
  ASSERT_TRUE(target.Execute("CREATE TABLE t (id INT); INSERT INTO t VALUES (7);"));
  SchemaSummary before;
  ASSERT_TRUE(SummarizeSchema(target, &before));

  std::string dump = "CREATE TABLE `t`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ENGINE=InnoDB;\r\n";
  for (int id = 0; id < 100000; ++id) {
    dump += "INSERT INTO `t` VALUES('" + std::to_string(id * 7919 % 100000) + "');\r\n";
  }
  const std::string archive = Archive(nullptr, dump);
  std::string bytes = *ReadWholeFile(archive);
  // Late in the member's data, well before the archive's directory.
  bytes[bytes.size() * 9 / 10] = static_cast<char>(bytes[bytes.size() * 9 / 10] ^ 0x20);
  std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;

  RestoreRequest request = Request(archive, target.name());
  request.replace = true;
  std::uint64_t loaded = 0;  // bytes of the dump handed to the load
  const RestoreOutcome outcome = RestoreDatabase(request, [&](const RestoreProgress& progress) {
    loaded = std::max(loaded, progress.bytesDone);
  });
  EXPECT_GT(loaded, 0u) << "the damage was found before the load began";
  EXPECT_EQ(outcome.result, RestoreResult::ArchiveUnusable);
  EXPECT_EQ(outcome.message.rfind(archive + ": ", 0), 0u) << outcome.message;
  EXPECT_NE(outcome.message.find(".sql is damaged: "), std::string::npos) << outcome.message;
  EXPECT_NE(outcome.message.find("; database " + target.name() + " was not changed"),
            std::string::npos)
      << outcome.message;
  EXPECT_EQ(outcome.rows, 0u);
  SchemaSummary after;
  ASSERT_TRUE(SummarizeSchema(target, &after));
  EXPECT_EQ(after, before);
  std::vector<ResultRow> rows;
  ASSERT_TRUE(target.Query("SELECT id FROM t", &rows));
  EXPECT_EQ(rows, std::vector<ResultRow>{{"7"}});
  EXPECT_EQ(StagingLeft(target, target.name()), std::vector<std::string>{});
}

// A new database appears only once its load is complete: stopped, or its
// connection cut, the load leaves no database behind and says nothing changed.
TEST_F(RestoreStagingTest, ANewDatabaseIsMadeOnlyWhenTheWholeDumpIsIn) {
  TestDatabase any(server_, "whole");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string target = any.name() + "_new";
  for (const bool cut : {false, true}) {
    SCOPED_TRACE(cut ? "connection cut" : "stopped");
    LoadGate gate(any);
    RestoreRequest request = Request(Archive(nullptr, kRows + gate.Statement() + kRows), target);
    RestoreOutcome outcome;
    std::thread restore([&] { outcome = RestoreDatabase(request); });
    EXPECT_TRUE(gate.AwaitLoad()) << "the load never waited";
    EXPECT_FALSE(DatabaseExists(any, target));
    EXPECT_EQ(StagingLeft(any, target).size(), 1u);
    if (cut) {
      EXPECT_TRUE(any.Execute("KILL CONNECTION " + gate.LoadConnection()));
    } else {
      request.stop.RequestStop();
    }
    gate.Open();
    restore.join();
    EXPECT_EQ(outcome.result, cut ? RestoreResult::StatementFailed : RestoreResult::Stopped);
    EXPECT_NE(outcome.message.find("database " + target + " was not changed"), std::string::npos)
        << outcome.message;
    EXPECT_FALSE(DatabaseExists(any, target));
    EXPECT_EQ(StagingLeft(any, target), std::vector<std::string>{});
  }
}

// A staging database that cannot be dropped is named, for whoever drops it.
TEST_F(RestoreStagingTest, AStagingDatabaseThatStaysIsNamed) {
  TestDatabase any(server_, "named");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string target = any.name() + "_new";
  LimitedLogin login(any, {"CREATE, INSERT, SELECT, ALTER, DROP ON *.*"});
  LoadGate gate(any);
  RestoreRequest request =
      login.As(Request(Archive(nullptr, kRows + gate.Statement() + kRows), target));
  RestoreOutcome outcome;
  std::thread restore([&] { outcome = RestoreDatabase(request); });
  EXPECT_TRUE(gate.AwaitLoad()) << "the load never waited";
  EXPECT_TRUE(any.Execute("REVOKE DROP ON *.* FROM '" + login.name() + "'@'%'"));
  request.stop.RequestStop();
  gate.Open();
  restore.join();
  const std::vector<std::string> left = StagingLeft(any, target);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(outcome.result, RestoreResult::Stopped);
  EXPECT_NE(outcome.message.find("database " + target + " was not changed; the staging database " +
                                 left[0] + " could not be dropped (Access denied"),
            std::string::npos)
      << outcome.message;
  EXPECT_TRUE(any.Execute("DROP DATABASE `" + left[0] + "`"));
}

}  // namespace
}  // namespace vaultwick::test
