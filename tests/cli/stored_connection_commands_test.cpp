// The commands that back up stored connections, as processes against the
// private server: `vaultwick backup --connection`, and `vaultwick scheduler`
// with one forced tick at a due hour, stopped by SIGTERM with no private
// folder left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <utility>

#include "shell/connections.h"
#include "shell/history.h"
#include "tests/support/stored_test_database.h"

extern char** environ;

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

// A store with the connection "nightly" (due at 10 every day) on a scratch
// database of the private server, and a target folder.
class StoredConnectionCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VAULTWICK_REQUIRE_TEST_SERVER(server);
    const std::string rows =
        "CREATE TABLE t(id INT PRIMARY KEY, s TEXT);"
        "INSERT INTO t SELECT seq, REPEAT('x', 100) FROM seq_1_to_20000";
    stored_ = std::make_unique<StoredTestDatabase>(
        server, StoredTestDatabase::Setup{"storedcmd", rows, "nightly", 10, 24});
    ASSERT_TRUE(stored_->Ready());
    storePath_ = stored_->storePath();
  }

  std::vector<HistoryRow> History() { return ReadHistory(*stored_->OpenStore(), "nightly", 10); }

  std::unique_ptr<StoredTestDatabase> stored_;
  std::string storePath_;
};

// The exit status of `vaultwick ARGUMENTS` with standard output and error dropped.
int RunQuietly(const std::string& arguments) {
  const std::string command = std::string(VAULTWICK_PROGRAM) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What `vaultwick ARGUMENTS` writes to standard output, read through a pipe
// as a script would, and its exit status.
std::pair<std::string, int> OutputOf(const std::string& arguments) {
  std::string output;
  std::FILE* pipe = ::popen((std::string(VAULTWICK_PROGRAM) + " " + arguments).c_str(), "r");
  if (pipe == nullptr) {
    return {"", -1};
  }
  for (char buffer[256]; std::fgets(buffer, sizeof buffer, pipe) != nullptr;) {
    output += buffer;
  }
  const int status = ::pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(StoredConnectionCommandsTest, BackupOfAStoredConnectionGoesIntoTheHistory) {
  EXPECT_EQ(RunQuietly("backup --connection NIGHTLY --store " + storePath_), 0);
  EXPECT_TRUE(fs::exists(stored_->ArchivePath()));
  std::vector<HistoryRow> rows = History();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].startedBy, "command");
  EXPECT_EQ(rows[0].result, "Complete");
  EXPECT_EQ(rows[0].rows, 20000);
  EXPECT_EQ(RunQuietly("backup --connection other --store " + storePath_), 1);
  EXPECT_EQ(RunQuietly("backup --connection nightly --host h --store " + storePath_), 2);

  // A test restore that cannot be made (its scratch database is not empty)
  // leaves the new archive placed and the scratch database as it was, and
  // says so: in the history, on standard error and in the exit status.
  TestDatabase taken(stored_->database().server(), "taken");
  ASSERT_TRUE(taken.Execute("CREATE TABLE keep (k INT)"));
  ASSERT_EQ(SetVerifyRestore(*stored_->OpenStore(), "nightly", taken.name()), ChangeResult::Done);
  fs::remove(stored_->ArchivePath());
  const std::string errors = stored_->scratch().File("errors.txt");
  const int status =
      std::system((std::string(VAULTWICK_PROGRAM) + " backup --connection nightly --store " +
                   storePath_ + " 2>" + errors)
                      .c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 4);
  EXPECT_TRUE(fs::exists(stored_->ArchivePath()));
  rows = History();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].result, "Complete");
  EXPECT_EQ(rows[0].archiveChecked, true);
  EXPECT_EQ(rows[0].verified, "failed");
  EXPECT_NE(rows[0].verifyDetail.find(taken.name() + " is not empty"), std::string::npos)
      << rows[0].verifyDetail;
  EXPECT_NE(ReadWholeFile(errors).value_or("").find("test restore failed: the scratch database"),
            std::string::npos);
  std::vector<ResultRow> kept;
  EXPECT_TRUE(taken.Query("SELECT COUNT(*) FROM keep", &kept));
}

// The off-site copy of a real run, to a folder of this machine that rclone
// reaches through an alias: exit 5 while it cannot be reached, the next run
// sending what it still keeps, restore-points saying so, and a restore of
// the copy alone that checksums as the original.
TEST_F(StoredConnectionCommandsTest, AnOffsiteCopyFailsWithFiveIsSentNextAndRestoresAlone) {
  const std::string config = stored_->scratch().File("rclone.conf");
  WriteFileBytes(config, "");
  const std::string store = " --store " + storePath_;
  ASSERT_EQ(RunQuietly("offsite set vwlocal:vault --config " + config + store), 0);
  EXPECT_EQ(RunQuietly("backup --connection nightly" + store), 5);
  std::vector<HistoryRow> rows = History();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "Complete");
  EXPECT_EQ(rows[0].offsite, "failed");
  EXPECT_NE(rows[0].offsiteDetail.find("didn't find section in config file"), std::string::npos);
  // Placed but not off-site is failing, for status as for the alerts.
  const auto [status, failing] = OutputOf("status --json" + store);
  EXPECT_EQ(failing, 1);
  EXPECT_NE(status.find("\"offsite\": \"failed\""), std::string::npos) << status;
  EXPECT_NE(status.find("not copied off-site: "), std::string::npos) << status;

  fs::create_directories(stored_->scratch().File("remote"));
  WriteFileBytes(config,
                 "[vwlocal]\ntype = alias\nremote = " + stored_->scratch().File("remote") + "\n");
  EXPECT_EQ(RunQuietly("backup --connection nightly" + store), 0);
  // The point that waited was pruned here by the second run (both fall in
  // one hour): it is not sent.
  EXPECT_EQ(History()[0].offsite, "copied");
  EXPECT_EQ(History()[0].offsiteDetail.rfind("not sent, no longer kept here: nightly-", 0), 0u)
      << History()[0].offsiteDetail;
  const auto [listed, listedStatus] = OutputOf("restore-points nightly" + store);
  EXPECT_EQ(listedStatus, 0);
  std::istringstream lines(listed);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.find("OFFSITE"), line.find("VERIFIED") + 10) << line;
  int points = 0;
  for (; std::getline(lines, line); ++points) {
    // Placed (a date and a time), bytes, rows, checked, verified, off-site, file.
    std::istringstream words(line);
    std::vector<std::string> word(8);
    for (std::string& w : word) {
      words >> w;
    }
    EXPECT_EQ(word[6], "yes") << line;
  }
  EXPECT_EQ(points, 1);
  // The archives here go: the copy alone restores.
  fs::remove_all(stored_->targetFolder());
  fs::create_directories(stored_->targetFolder());

  TestDatabase copy(stored_->database().server(), "storedcopy");
  ASSERT_TRUE(copy.ok()) << copy.error();
  ASSERT_EQ(RunQuietly("restore --connection nightly --from-offsite --replace --database " +
                       copy.name() + store),
            0);
  EXPECT_TRUE(SameSchema(stored_->database(), copy));
  EXPECT_TRUE(fs::is_empty(stored_->targetFolder()));
}

// The private server offers no TLS: a connection that requires it ends its
// run before anything is read, and the history says why.
TEST_F(StoredConnectionCommandsTest, TlsRefusalIsTheCauseInTheHistory) {
  ASSERT_TRUE(SetConnectionTls(*stored_->OpenStore(), "nightly", {TlsMode::Required, ""}));
  EXPECT_EQ(RunQuietly("backup --connection nightly --store " + storePath_), 1);
  EXPECT_FALSE(fs::exists(stored_->ArchivePath()));
  const std::vector<HistoryRow> rows = History();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cause, "the server offers no TLS");
}

TEST_F(StoredConnectionCommandsTest, SchedulerForcedTickBacksUpAndSigtermStopsCleanly) {
  const std::string temp = stored_->scratch().File("tmp");
  fs::create_directory(temp);
  ::setenv("TMPDIR", temp.c_str(), 1);

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string program = VAULTWICK_PROGRAM;
  std::vector<std::string> arguments = {program,    "scheduler",    "--store",
                                        storePath_, "--test-clock", "2024-03-01T10:00:20"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::unsetenv("TMPDIR");
  ::close(pipeFds[1]);
  ASSERT_EQ(spawned, 0);

  std::FILE* output = ::fdopen(pipeFds[0], "r");
  std::string log;
  char line[4096];
  bool signalled = false;
  while (std::fgets(line, sizeof line, output) != nullptr) {
    log += line;
    if (!signalled && std::string(line).find("nightly: started (schedule)") != std::string::npos) {
      ::kill(pid, SIGTERM);
      signalled = true;
    }
  }
  std::fclose(output);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(signalled) << log;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
  EXPECT_NE(log.find("stopping on SIGTERM"), std::string::npos) << log;
  EXPECT_NE(log.find(" stopped\n"), std::string::npos) << log;
  EXPECT_TRUE(fs::is_empty(temp)) << "a private folder was left behind";
  EXPECT_EQ(History().size(), 1u);
}

}  // namespace
}  // namespace vaultwick::test
