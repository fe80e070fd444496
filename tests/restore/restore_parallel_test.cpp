// A load on several connections ends as one: a connection cut while the
// others load (or all of them, as when the server goes away) fails the whole
// load with the cause, and the target stays as it was. What the reader has
// handed over and the connections have not sent yet is counted as the memory
// it takes.

#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <thread>
#include <vector>

#include "restore/parallel_load.h"
#include "restore/restore_database.h"
#include "tests/restore/restore_test_support.h"

namespace vaultwick::test {
namespace {

using RestoreParallelTest = RestoreTest;

std::string Table(const std::string& name, int rows) {
  std::string text = "CREATE TABLE `" + name + "`(\r\n\t`id` int\r\n) ENGINE=InnoDB;\r\n";
  for (int i = 0; i < rows; ++i) {
    text += "INSERT INTO `" + name + "` VALUES('" + std::to_string(i) + "');\r\n";
  }
  return text;
}

TEST_F(RestoreParallelTest, AConnectionCutMidLoadFailsTheLoadOnEveryConnection) {
  TestDatabase any(server_, "cut");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string target = any.name() + "_new";
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "every connection cut" : "one connection cut");
    LoadGate gate(any);
    // The gate's row holds its table's connection; the other tables load beside it.
    const std::string dump =
        Table("g", 0) + gate.Row("g") + Table("t", 2000) + Table("u", 2000) + "COMMIT;\r\n";
    RestoreRequest request = Request(Archive(nullptr, dump), target);
    request.jobs = 4;
    RestoreOutcome outcome;
    std::thread restore([&] { outcome = RestoreDatabase(request); });
    ASSERT_TRUE(gate.AwaitLoad()) << "the load never waited";
    std::vector<ResultRow> cut = {{gate.LoadConnection()}};
    if (all) {
      EXPECT_TRUE(any.Query("SELECT ID FROM information_schema.PROCESSLIST WHERE DB LIKE '" +
                                target + "\\_vwstage\\_%'",
                            &cut));
      EXPECT_EQ(cut.size(), 4u);
    }
    for (const ResultRow& connection : cut) {
      EXPECT_TRUE(any.Execute("KILL CONNECTION " + *connection[0]));
    }
    gate.Open();
    restore.join();
    EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
    EXPECT_NE(outcome.message.find("; database " + target + " was not changed"), std::string::npos)
        << outcome.message;
    if (!all) {
      EXPECT_EQ(outcome.line, 4u);
      EXPECT_EQ(outcome.message.find("Lost connection"), 0u) << outcome.message;
    }
    EXPECT_FALSE(DatabaseExists(any, target));
    EXPECT_EQ(StagingLeft(any, target), std::vector<std::string>{});
  }
}

// The bytes the allocator has handed out and not got back.
std::size_t Allocated() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

TEST_F(RestoreParallelTest, StatementsWaitingToBeSentAreCountedAsTheMemoryTheyTake) {
  TestDatabase database(server_, "held");
  ASSERT_TRUE(database.ok()) << database.error();
  std::string error;
  MYSQL* connection = database.OpenConnection(&error);
  ASSERT_NE(connection, nullptr) << error;
  constexpr int kRows = 5000;
  {
    LoadGate gate(database);
    // Batches of one row: the gate's holds the connection while the rest wait.
    ParallelLoad load({connection}, StatementLoader::Limits{32, 1 << 20, 0});
    // The reader's buffer is kept for the next statement, as the dump's
    // splitter keeps it, and is larger than the rows.
    StatementText text;
    const auto take = [&](const std::string& statement) {
      text.clear();
      text.append(statement);
      return load.Take(text, 1);
    };
    ASSERT_TRUE(take("CREATE TABLE `g` (`id` int)"));
    std::string row = gate.Row("g");
    ASSERT_TRUE(take(row.substr(0, row.size() - 3)));
    ASSERT_TRUE(gate.AwaitLoad());
    const std::size_t before = Allocated();
    for (int i = 0; i < kRows; ++i) {
      ASSERT_TRUE(take("INSERT INTO `g` VALUES(" + std::to_string(i) + ")"));
    }
    const std::size_t taken = Allocated() - before;
    // Sanitizers serve memory from an allocator of their own, which the
    // figures do not show.
    if (taken != 0) {
      EXPECT_GE(load.held() * 10, taken * 9) << "held " << load.held() << ", took " << taken;
    }
    gate.Open();
    EXPECT_TRUE(load.Finish()) << load.failure().error;
    EXPECT_EQ(load.rows(), kRows + 1u);
    EXPECT_EQ(load.held(), 0u);
  }
  mysql_close(connection);
  std::vector<ResultRow> count;
  ASSERT_TRUE(database.Query("SELECT COUNT(*) FROM g", &count));
  EXPECT_EQ(count, std::vector<ResultRow>{{std::to_string(kRows + 1)}});
}

}  // namespace
}  // namespace vaultwick::test
