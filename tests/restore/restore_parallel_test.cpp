// A load on several connections ends as one: a connection cut while the
// others load (or all of them, as when the server goes away) fails the whole
// load with the cause, and the target stays as it was.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace vaultwick::test
