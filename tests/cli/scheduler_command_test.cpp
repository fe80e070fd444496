// `vaultwick scheduler` as a process: one forced tick at a due hour starts a
// real backup, SIGTERM stops it cleanly, and no private folder stays behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "shell/connections.h"
#include "shell/history.h"
#include "shell/target_folder.h"
#include "tests/backup/test_database.h"
#include "tests/shell/shell_test_support.h"

extern char** environ;

namespace vaultwick::test {
namespace {

namespace fs = std::filesystem;

TEST(SchedulerCommandTest, ForcedTickBacksUpAndSigtermStopsCleanly) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase db(server, "schedcmd");
  ASSERT_TRUE(db.ok()) << db.error();
  ASSERT_TRUE(
      db.Execute("CREATE TABLE t(id INT PRIMARY KEY, s TEXT);"
                 "INSERT INTO t SELECT seq, REPEAT('x', 100) FROM seq_1_to_20000"));
  ScratchFolder scratch;
  const std::string storePath = scratch.File("s.sqlite");
  {
    auto store = SettingsStore::Open(storePath);
    SaveTargetFolder(*store, CheckTargetFolder(scratch.File("arch")).value_or(""));
    ASSERT_EQ(AddConnectionNamed(*store, "nightly"), ChangeResult::Done);
    ASSERT_EQ(ApplyConnectionChanges(*store, "nightly",
                                     {"nightly", server.host + ":" + std::to_string(server.port),
                                      server.user, server.password, db.name(), 10, 24}),
              ChangeResult::Done);
  }
  const std::string temp = scratch.File("tmp");
  fs::create_directory(temp);
  ::setenv("TMPDIR", temp.c_str(), 1);

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string program = VAULTWICK_PROGRAM;
  std::vector<std::string> arguments = {program,   "scheduler",    "--store",
                                        storePath, "--test-clock", "2024-03-01T10:00:20"};
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
  auto store = SettingsStore::Open(storePath);
  EXPECT_EQ(ReadHistory(*store, "nightly", 10).size(), 1u);
}

}  // namespace
}  // namespace vaultwick::test
