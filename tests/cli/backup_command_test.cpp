// `vaultwick backup` as a user runs it: texts on standard error as they
// happen, the cause on a line after the end text, an exit status that says
// whether an archive was placed, stop signals that end the job at once and
// leave nothing behind, and no password on the command line.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/backup_command.h"
#include "tests/support/test_database.h"

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

class JobCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VAULTWICK_REQUIRE_TEST_SERVER(found);
    server_ = found;
    db_ = std::make_unique<TestDatabase>(server_, "jobcmd");
    ASSERT_TRUE(db_->ok()) << db_->error();
    ASSERT_TRUE(
        db_->Execute("CREATE TABLE t(id INT PRIMARY KEY, s TEXT); INSERT INTO t VALUES(1,NULL)"));
    char pattern[] = "/tmp/vw-jobcmd-XXXXXX";
    target_ = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(target_); }

  std::string Arguments(const fs::path& saveTo) const {
    return "backup --name cmd --host " + Address(server_) + " --login " + server_.user +
           " --database " + db_->name() + " --save-to " + saveTo.string();
  }

  TestServer server_;
  std::unique_ptr<TestDatabase> db_;
  fs::path target_;
};

TEST_F(JobCommandTest, ExitStatusTellsWhetherAnArchiveWasPlaced) {
  Result ok = RunProgram(Arguments(target_), server_.password);
  EXPECT_EQ(ok.status, 0) << ok.errorText;
  EXPECT_EQ(ok.errorText,
            "Connecting...\nGetting table list\nDESCRIBE `t`\nSHOW KEYS FROM `t`\n"
            "SELECT * FROM `t`\nZipping file\nBackup complete\n");
  EXPECT_TRUE(fs::exists(target_ / "cmd.zip"));

  Result refused = RunProgram(Arguments(target_), "wrong");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(
      refused.errorText.rfind("Connecting...\nCan't connect to MySQL server\nAccess denied", 0), 0u)
      << refused.errorText;

  Result noFolder = RunProgram(Arguments(target_ / "missing"), server_.password);
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_NE(noFolder.errorText.find("error: Could not copy file to target directory\n"
                                    "Could not copy file to target directory\n"
                                    "No such file or directory\n"),
            std::string::npos)
      << noFolder.errorText;

  ASSERT_TRUE(
      db_->Execute("CREATE TABLE gone(x INT); CREATE VIEW broken AS SELECT x FROM gone;"
                   "DROP TABLE gone;"));
  Result withErrors = RunProgram(Arguments(target_), server_.password);
  EXPECT_EQ(withErrors.status, 3) << withErrors.errorText;
  EXPECT_NE(
      withErrors.errorText.find("\nBackup complete with errors\nNot dumped in full: `broken`"),
      std::string::npos)
      << withErrors.errorText;

  EXPECT_EQ(RunProgram("backup --name cmd --password secret", "").status, 2);
  EXPECT_EQ(RunProgram("backup --name cmd", "").status, 2);
}

// The program started in the background with its own temporary folder;
// standard error is read line by line.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& arguments, const std::string& password,
                    const fs::path& tmpdir) {
    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeEnds[1], 2);
      ::close(pipeEnds[0]);
      ::setenv("VAULTWICK_PASSWORD", password.c_str(), 1);
      ::setenv("TMPDIR", tmpdir.c_str(), 1);
      std::string command = "exec " VAULTWICK_PROGRAM " " + arguments;
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeEnds[1]);
    errors_ = ::fdopen(pipeEnds[0], "r");
  }
  ~BackgroundProgram() { std::fclose(errors_); }

  // Reads standard error until a line that begins with `start`; false when
  // the program's standard error ends first.
  bool AwaitLineStarting(const std::string& start) {
    char line[4096];
    while (std::fgets(line, sizeof line, errors_) != nullptr) {
      if (std::string(line).rfind(start, 0) == 0) {
        return true;
      }
    }
    return false;
  }

  void Signal(int signal) { ::kill(pid_, signal); }

  // The exit status, or -1 when the program did not exit by itself.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* errors_ = nullptr;
};

// While the server holds the job's query (a locked table), each stop signal
// ends the program at once with its own status; the older archive stays and
// no temporary folder is left.
TEST_F(JobCommandTest, StopSignalsEndTheJobWithTheirStatusAndLeaveNothing) {
  std::ofstream(target_ / "cmd.zip") << "older";
  const fs::path tmpdir = target_ / "tmp";
  fs::create_directory(tmpdir);
  ASSERT_TRUE(db_->Execute("LOCK TABLES t WRITE"));
  for (auto [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    BackgroundProgram program(Arguments(target_), server_.password, tmpdir);
    EXPECT_TRUE(program.AwaitLineStarting("SELECT")) << signal;
    program.Signal(signal);
    EXPECT_EQ(program.Wait(), status) << signal;
    EXPECT_TRUE(fs::is_empty(tmpdir)) << signal;
  }
  ASSERT_TRUE(db_->Execute("UNLOCK TABLES"));
  std::ifstream archive(target_ / "cmd.zip");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(archive), {}), "older");
}

std::size_t ThreadsOfThisProcess() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/task"), {}));
}

// The command returns only after its job's thread has ended: a thread still
// ending when the process exits loses its cleanup (the leak checker saw it).
TEST_F(JobCommandTest, CommandReturnsOnlyAfterItsJobThreadHasEnded) {
  // A sanitizer may start a helper thread with the process's first thread.
  std::thread([] {}).join();
  const std::size_t before = ThreadsOfThisProcess();
  ::setenv("VAULTWICK_PASSWORD", server_.password.c_str(), 1);
  std::vector<std::string> words = {"--name",    "cmd",           "--host",     Address(server_),
                                    "--login",   server_.user,    "--database", db_->name(),
                                    "--save-to", target_.string()};
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  EXPECT_EQ(RunBackupCommand(static_cast<int>(argv.size()), argv.data()), 0);
  EXPECT_EQ(ThreadsOfThisProcess(), before);
}

}  // namespace
}  // namespace vaultwick::test
