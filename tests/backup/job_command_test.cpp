// `vaultwick backup` as a user runs it: texts on standard error as they
// happen, exit status 0 only for a clean backup, no password on the command line.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/backup/test_database.h"

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string errorText;
};

// Runs the program with `arguments` and VAULTWICK_PASSWORD=password.
Result RunProgram(const std::string& arguments, const std::string& password) {
  std::string command = "VAULTWICK_PASSWORD='" + password + "' " VAULTWICK_PROGRAM " " + arguments +
                        " 2>&1 >/dev/null";
  Result result;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) {
    result.errorText.append(buffer, got);
  }
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(JobCommandTest, ExitStatusTellsWhetherTheBackupIsWhole) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "jobcmd");
  ASSERT_TRUE(db.ok()) << db.error();
  ASSERT_TRUE(
      db.Execute("CREATE TABLE t(id INT PRIMARY KEY, s TEXT); INSERT INTO t VALUES(1,NULL)"));
  char pattern[] = "/tmp/vw-jobcmd-XXXXXX";
  const fs::path target = ::mkdtemp(pattern);
  const std::string arguments = "backup --name cmd --host " + server.host + ":" +
                                std::to_string(server.port) + " --login " + server.user +
                                " --database " + db.name() + " --save-to ";

  Result ok = RunProgram(arguments + target.string(), server.password);
  EXPECT_EQ(ok.status, 0) << ok.errorText;
  EXPECT_EQ(ok.errorText,
            "Connecting...\nGetting table list\nDESCRIBE `t`\nSHOW KEYS FROM `t`\n"
            "SELECT * FROM `t`\nZipping file\nBackup complete\n");
  EXPECT_TRUE(fs::exists(target / "cmd.zip"));

  Result refused = RunProgram(arguments + target.string(), "wrong");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.errorText, "Connecting...\nCan't connect to MySQL server\n");

  Result noFolder = RunProgram(arguments + (target / "missing").string(), server.password);
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_NE(noFolder.errorText.find("error: Could not copy file to target directory\n"
                                    "Could not copy file to target directory\n"),
            std::string::npos)
      << noFolder.errorText;

  EXPECT_EQ(RunProgram("backup --name cmd --password secret", "").status, 2);
  EXPECT_EQ(RunProgram("backup --name cmd", "").status, 2);
  fs::remove_all(target);
}

}  // namespace
}  // namespace vaultwick::test
