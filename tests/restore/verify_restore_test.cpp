// Test restores against the private server: an archive proven by loading it
// into a scratch database and dumping that again, and a scratch database that
// is never shared, never a real database, and never left behind.

#include "restore/verify_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "backup/dump_database.h"
#include "tests/restore/restore_test_support.h"

namespace vaultwick::test {
namespace {

using Result = VerifyRestoreOutcome::Result;
using VerifyRestoreTest = RestoreTest;

const std::string kOneRow =
    "CREATE TABLE `t`(\r\n\t`id` int\r\n);\r\nINSERT INTO `t` VALUES('1');\r\n";

// A host that names no server says so (it once said nothing after the colon).
TEST(VerifyRestoreAddressTest, HostThatNamesNoServerSaysSo) {
  RestoreRequest request;
  request.archivePath = "never-read.zip";
  request.server.host = "[::1";
  request.server.database = "scratch";
  const VerifyRestoreOutcome outcome = VerifyRestore(request);
  EXPECT_EQ(outcome.result, Result::Failed);
  EXPECT_EQ(outcome.detail, "Can't connect to MySQL server: Not a server address: \"[::1\"");
}

TEST_F(VerifyRestoreTest, ComparesTheDumpsStatementByStatement) {
  TestDatabase original(server_, "verify");
  ASSERT_TRUE(original.ok()) << original.error();
  ASSERT_TRUE(original.Execute(kAwkward));
  const std::string scratch = original.name() + "_scratch";
  VerifyRestoreOutcome outcome = VerifyRestore(Request(Archive(&original), scratch));
  EXPECT_EQ(outcome.result, Result::Verified) << outcome.detail;
  EXPECT_FALSE(DatabaseExists(original, scratch));

  // An archived dump that does not come back as written: '0017' is read back as '17'.
  const std::string dumpPath = Scratch(".sql");
  ASSERT_EQ(DumpDatabase(original.connection(), dumpPath.c_str(), nullptr).failedQueries, 0);
  std::string dump = *ReadWholeFile(dumpPath);
  const std::size_t row = dump.find("INSERT INTO `many` VALUES('17',");
  ASSERT_NE(row, std::string::npos);
  dump.replace(row, 31, "INSERT INTO `many` VALUES('0017',");
  const std::size_t line =
      1 + static_cast<std::size_t>(
              std::count(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(row), '\n'));
  outcome = VerifyRestore(Request(Archive(nullptr, dump), scratch));
  EXPECT_EQ(outcome.result, Result::Differs);
  EXPECT_NE(outcome.detail.find("line " + std::to_string(line) + " of the archived dump"),
            std::string::npos)
      << outcome.detail;
  EXPECT_FALSE(DatabaseExists(original, scratch));

  // A database that holds anything is never taken for a scratch database.
  TestDatabase routineOnly(server_, "routine");
  ASSERT_TRUE(routineOnly.Execute("CREATE FUNCTION f() RETURNS INT RETURN 1"));
  for (const TestDatabase* taken : {&original, &routineOnly}) {
    outcome = VerifyRestore(Request(Archive(&original), taken->name()));
    EXPECT_EQ(outcome.result, Result::Failed);
    EXPECT_NE(outcome.detail.find("is not empty"), std::string::npos) << outcome.detail;
    EXPECT_TRUE(DatabaseExists(original, taken->name()));
  }
  std::vector<ResultRow> rows;
  ASSERT_TRUE(routineOnly.Query("SELECT f()", &rows));
}

// A stop cuts the test restore's connection wherever it waits (here at a
// gate); the scratch database goes all the same.
TEST_F(VerifyRestoreTest, StoppedTestRestoreStillDropsItsScratchDatabase) {
  TestDatabase holder(server_, "holder");
  ASSERT_TRUE(holder.ok()) << holder.error();
  LoadGate gate(holder);
  const std::string scratch = holder.name() + "_scratch";
  RestoreRequest request = Request(Archive(nullptr, kOneRow + gate.Statement()), scratch);
  VerifyRestoreOutcome outcome;
  std::thread verify([&] { outcome = VerifyRestore(request); });
  EXPECT_TRUE(gate.AwaitLoad()) << "the test restore never waited";
  request.stop.RequestStop();
  gate.Open();
  verify.join();
  EXPECT_EQ(outcome.result, Result::Failed);
  EXPECT_EQ(outcome.detail, "Stopped on request");
  EXPECT_FALSE(DatabaseExists(holder, scratch));
}

// Two test restores into one scratch database would load into each other:
// the second is refused while the first holds it, and says so.
TEST_F(VerifyRestoreTest, ASecondTestRestoreIntoTheSameScratchDatabaseIsRefused) {
  TestDatabase holder(server_, "twice");
  ASSERT_TRUE(holder.ok()) << holder.error();
  LoadGate gate(holder);
  const std::string scratch = holder.name() + "_scratch";
  const RestoreRequest first = Request(Archive(nullptr, kOneRow + gate.Statement()), scratch);
  VerifyRestoreOutcome firstOutcome;
  std::thread running([&] { firstOutcome = VerifyRestore(first); });
  EXPECT_TRUE(gate.AwaitLoad()) << "the first test restore never waited";
  const VerifyRestoreOutcome second = VerifyRestore(Request(Archive(nullptr, kOneRow), scratch));
  gate.Open();
  running.join();
  EXPECT_EQ(second.result, Result::Failed);
  EXPECT_EQ(second.detail,
            "the scratch database " + scratch + " is in use by another test restore");
  // The first went on undisturbed (its gate is no statement a dump writes).
  EXPECT_EQ(firstOutcome.result, Result::Differs) << firstOutcome.detail;
  EXPECT_FALSE(DatabaseExists(holder, scratch));
}

// No copy of the data may stay on the server: a login that may not drop the
// scratch database loads nothing, and a drop that fails all the same fails
// the test restore, with the server's reason and where the copy is.
TEST_F(VerifyRestoreTest, AScratchDatabaseThatCannotBeDroppedFailsTheTestRestore) {
  TestDatabase holder(server_, "nodrop");
  ASSERT_TRUE(holder.ok()) << holder.error();
  const std::string scratch = holder.name() + "_scratch";
  const std::string on = " ON `" + scratch + "`.*";
  {
    LimitedLogin login(holder, {"CREATE, INSERT, SELECT" + on});
    const VerifyRestoreOutcome outcome =
        VerifyRestore(login.As(Request(Archive(nullptr, kOneRow), scratch)));
    EXPECT_EQ(outcome.result, Result::Failed);
    EXPECT_NE(outcome.detail.find("the login may not drop the scratch database " + scratch +
                                  " (Access denied"),
              std::string::npos)
        << outcome.detail;
    EXPECT_NE(outcome.detail.find("nothing was loaded"), std::string::npos) << outcome.detail;
    EXPECT_FALSE(DatabaseExists(holder, scratch));
  }

  LimitedLogin login(holder, {"CREATE, INSERT, SELECT, DROP" + on});
  LoadGate gate(holder);
  VerifyRestoreOutcome outcome;
  std::thread verify([&] {
    outcome =
        VerifyRestore(login.As(Request(Archive(nullptr, kOneRow + gate.Statement()), scratch)));
  });
  EXPECT_TRUE(gate.AwaitLoad()) << "the test restore never waited";
  EXPECT_TRUE(holder.Execute("REVOKE DROP" + on + " FROM '" + login.name() + "'@'%'"));
  gate.Open();
  verify.join();
  EXPECT_EQ(outcome.result, Result::Failed);
  const std::string where = "the scratch database " + scratch + " on " +
                            Request("", scratch).server.host +
                            " could not be dropped (Access denied";
  EXPECT_EQ(outcome.detail.rfind(where, 0), 0u) << outcome.detail;
  EXPECT_NE(outcome.detail.find("the copy loaded into it is still there"), std::string::npos)
      << outcome.detail;
  EXPECT_TRUE(DatabaseExists(holder, scratch));
  EXPECT_TRUE(holder.Execute("DROP DATABASE `" + scratch + "`"));
}
}  // namespace
}  // namespace vaultwick::test
