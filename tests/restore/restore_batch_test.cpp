// How the loader sends rows in batches, where the server refuses one: a
// transaction the server rolled back fails the load (the rows since the last
// commit went with it), and batches stay within the server's packet size.

#include <gtest/gtest.h>
#include <mysql.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "restore/restore_database.h"
#include "tests/restore/restore_test_support.h"
#include "tests/support/private_server.h"

namespace vaultwick::test {
namespace {

// Table `a` gets its row, then table `b` its rows, in one batch; `before`
// and `between` are lines of their own before and between the rows.
std::string RowsOfTwoTables(const std::string& before, const std::string& between) {
  return "CREATE TABLE `a`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ENGINE=InnoDB;\r\n"
         "CREATE TABLE `b`(\r\n\t`id` int NOT NULL PRIMARY KEY\r\n) ENGINE=InnoDB;\r\n" +
         before + "INSERT INTO `a` VALUES('1');\r\n" + between +
         "INSERT INTO `b` VALUES('1');\r\nINSERT INTO `b` VALUES('2');\r\n";
}

// A second session on the database the load writes, which holds rows of its
// table in a transaction of its own.
class RivalSession {
 public:
  RivalSession(const TestDatabase& any, const LoadGate& gate) : any_(any) {
    std::vector<ResultRow> rows;
    EXPECT_TRUE(any.Query(
        "SELECT DB FROM information_schema.PROCESSLIST WHERE ID = " + gate.LoadConnection(),
        &rows));
    database_ = rows.size() == 1 ? "`" + *rows[0][0] + "`." : "nowhere.";
    std::string error;
    connection_ = any.OpenConnection(&error);
    EXPECT_NE(connection_, nullptr) << error;
  }
  ~RivalSession() {
    if (connection_ != nullptr) {
      mysql_close(connection_);
    }
  }

  // Runs `sql` on the session, `%` standing for the load's database.
  bool Run(std::string sql) {
    if (const std::size_t at = sql.find('%'); at != std::string::npos) {
      sql.replace(at, 1, database_);
    }
    const bool done = connection_ != nullptr && mysql_query(connection_, sql.c_str()) == 0;
    EXPECT_TRUE(done) << sql << ": " << (connection_ ? mysql_error(connection_) : "");
    return done;
  }
  // Waits until the session waits for a lock: false when it never did. The
  // engine's status is asked, as information_schema.INNODB_TRX can go on
  // calling a transaction that waits for a row lock running.
  bool AwaitLockWait() const {
    const std::string thread =
        "MariaDB thread id " + std::to_string(mysql_thread_id(connection_)) + ",";
    std::vector<ResultRow> rows;
    for (int tries = 0; tries < 600; ++tries) {
      EXPECT_TRUE(any_.Query("SHOW ENGINE INNODB STATUS", &rows));
      const std::string status =
          rows.size() == 1 && rows[0].size() == 3 && rows[0][2] ? *rows[0][2] : std::string();
      // Each transaction's part starts "---TRANSACTION"; a waiting one's says LOCK WAIT.
      const std::size_t at = status.find(thread);
      const std::size_t start = at == std::string::npos ? at : status.rfind("---TRANSACTION", at);
      if (start != std::string::npos &&
          status.substr(start, at - start).find("LOCK WAIT") != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  const TestDatabase& any_;
  std::string database_;
  MYSQL* connection_ = nullptr;
};

using RestoreBatchTest = RestoreTest;

// The load commits row 0 of `a` (a table's DDL commits), so that its row 1
// goes in under a row lock (the first insert into an empty table locks the
// whole table instead), and holds row 1 at the gate. The rival holds 200 rows
// of `b`, row 1 among them, and waits for the load's row 1 of `a` (a
// duplicate key waits for the transaction that wrote it); the load's batch
// then waits for row 1 of `b`. The server ends the deadlock by rolling back
// the lighter transaction, the load's, and its row 1 of `a` with it.
TEST_F(RestoreBatchTest, ADeadlockThatRolledBackTheLoadFailsIt) {
  const std::string kCommittedRow =
      "INSERT INTO `a` VALUES('0');\r\nCREATE TABLE `c`(\r\n\t`id` int\r\n);\r\n";
  TestDatabase any(server_, "deadlock");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string target = any.name() + "_new";
  LoadGate gate(any);
  RestoreOutcome outcome;
  RestoreRequest request =
      Request(Archive(nullptr, RowsOfTwoTables(kCommittedRow, gate.Statement())), target);
  request.jobs = 1;  // both tables' rows in one transaction
  std::thread restore([&] { outcome = RestoreDatabase(request); });
  EXPECT_TRUE(gate.AwaitLoad()) << "the load never waited";
  RivalSession rival(any, gate);
  rival.Run("START TRANSACTION");
  rival.Run("INSERT INTO %b SELECT seq FROM seq_1_to_200");
  std::thread waits([&] {
    rival.Run("INSERT INTO %a VALUES (1)");
    rival.Run("ROLLBACK");
  });
  EXPECT_TRUE(rival.AwaitLockWait());
  gate.Open();
  restore.join();
  waits.join();
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.line, 13u);
  EXPECT_NE(outcome.message.find("Deadlock found"), std::string::npos) << outcome.message;
  EXPECT_NE(outcome.message.find("the server rolled back the transaction, and with it the rows "
                                 "loaded since the last commit"),
            std::string::npos)
      << outcome.message;
  EXPECT_FALSE(DatabaseExists(any, target));
  EXPECT_EQ(StagingLeft(any, target), std::vector<std::string>{});
}

// Settings no test may change on the shared server: a small packet size, and
// a lock wait timeout that rolls back the whole transaction.
class RestoreOnOwnServerTest : public RestoreTest {
 protected:
  static constexpr std::size_t kPacket = 65536;

  static void SetUpTestSuite() {
    std::string why;
    own_ = PrivateServer::Start("start",
                                "--max-allowed-packet=" + std::to_string(kPacket) +
                                    " --innodb-rollback-on-timeout=ON --innodb-lock-wait-timeout=1"
                                    " --innodb-buffer-pool-size=32M",
                                &why);
    why_ = why;
  }
  static void TearDownTestSuite() { own_.reset(); }

  void SetUp() override {
    RestoreTest::SetUp();
    ASSERT_NE(own_, nullptr) << why_;
    server_ = own_->On(server_);
  }

  static std::unique_ptr<PrivateServer> own_;
  static std::string why_;
};
std::unique_ptr<PrivateServer> RestoreOnOwnServerTest::own_;
std::string RestoreOnOwnServerTest::why_;

// Rows whose statements come near the server's packet size load, one byte
// more is refused at its line before the server would drop the connection.
TEST_F(RestoreOnOwnServerTest, RowsNearThePacketSizeLoadOrAreNamed) {
  TestDatabase any(server_, "packet");
  ASSERT_TRUE(any.ok()) << any.error();
  const std::string head = "INSERT INTO `p` VALUES('";
  auto row = [&](int id, std::size_t statementBytes) {
    const std::string start = head + std::to_string(id) + "','";
    return start + std::string(statementBytes - start.size() - 2, 'x') + "');\r\n";
  };
  const std::string table = "CREATE TABLE `p`(\r\n\t`id` int,\r\n\t`v` longtext\r\n);\r\n";
  // The largest statement the server takes with its command byte, then rows
  // two of which fill a batch, then one more than fits beside them.
  const std::string fits = table + row(1, kPacket - 2) + row(2, 30000) + row(3, 30000) +
                           row(4, kPacket / 2) + row(5, 40);
  const std::string target = any.name() + "_new";
  RestoreOutcome outcome = RestoreDatabase(Request(Archive(nullptr, fits), target));
  ASSERT_EQ(outcome.result, RestoreResult::Restored) << outcome.message << " " << outcome.line;
  EXPECT_EQ(outcome.rows, 5u);
  std::vector<ResultRow> rows;
  ASSERT_TRUE(any.Query("SELECT SUM(LENGTH(v)) FROM `" + target + "`.`p`", &rows));
  EXPECT_EQ(rows, (std::vector<ResultRow>{{std::to_string(fits.size() - table.size() -
                                                          5 * (head.size() + 1 + 3 + 5))}}));

  const std::string over = table + row(1, 40) + row(2, kPacket - 1);
  const std::string other = any.name() + "_over";
  outcome = RestoreDatabase(Request(Archive(nullptr, over), other));
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.line, 6u);
  EXPECT_EQ(outcome.message.rfind("the statement is " + std::to_string(kPacket - 1) +
                                      " bytes, more than the server takes (its "
                                      "max_allowed_packet is " +
                                      std::to_string(kPacket) + " bytes)",
                                  0),
            0u)
      << outcome.message;
  EXPECT_FALSE(DatabaseExists(any, other));
}

// A lock wait timeout rolls back the whole transaction on this server: the
// load fails instead of going on without the row of `a`. (The rival holds a
// row that a trigger of `b` writes outside the load's database, so that the
// load's database can go as soon as the load failed.)
TEST_F(RestoreOnOwnServerTest, ALockWaitTimeoutThatRolledBackTheLoadFailsIt) {
  TestDatabase any(server_, "timeout");
  ASSERT_TRUE(any.ok()) << any.error();
  ASSERT_TRUE(any.Execute("CREATE TABLE x (id INT PRIMARY KEY)"));
  const std::string dump =
      RowsOfTwoTables("CREATE TRIGGER `note` AFTER INSERT ON `b` FOR EACH ROW INSERT INTO `" +
                          any.name() + "`.`x` VALUES (NEW.id);\r\n",
                      "");
  std::string error;
  MYSQL* rival = any.OpenConnection(&error);
  ASSERT_NE(rival, nullptr) << error;
  EXPECT_EQ(mysql_query(rival, "START TRANSACTION"), 0);
  EXPECT_EQ(mysql_query(rival, "INSERT INTO x VALUES (1)"), 0) << mysql_error(rival);
  const std::string target = any.name() + "_new";
  RestoreRequest request = Request(Archive(nullptr, dump), target);
  request.jobs = 1;  // both tables' rows in one transaction
  const RestoreOutcome outcome = RestoreDatabase(request);
  mysql_close(rival);
  EXPECT_EQ(outcome.result, RestoreResult::StatementFailed);
  EXPECT_EQ(outcome.line, 9u);
  EXPECT_NE(outcome.message.find("Lock wait timeout exceeded"), std::string::npos)
      << outcome.message;
  EXPECT_NE(outcome.message.find("the server rolled back the transaction"), std::string::npos)
      << outcome.message;
  EXPECT_FALSE(DatabaseExists(any, target));
  EXPECT_EQ(StagingLeft(any, target), std::vector<std::string>{});
}

}  // namespace
}  // namespace vaultwick::test
