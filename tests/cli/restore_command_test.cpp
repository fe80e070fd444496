// `vaultwick restore` as a process against the private server: the archive of
// a stored connection back into a database, with its refusals and usage errors.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "tests/support/stored_test_database.h"
#include "tests/support/test_schemas.h"

namespace vaultwick::test {
namespace {

struct Ran {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs `vaultwick ARGUMENTS`, with `environment` (NAME=VALUE ...) set for it.
Ran Vaultwick(const std::string& arguments, const std::string& environment = "") {
  Ran run;
  const std::string command =
      environment + " " + std::string(VAULTWICK_PROGRAM) + " " + arguments + " 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char block[4096];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) {
    run.output.append(block, got);
  }
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(RestoreCommand, StoredConnectionsArchiveComesBackAndRefusalsSayWhy) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  const std::string rows =
      "CREATE TABLE t(id INT PRIMARY KEY, s TEXT);"
      "INSERT INTO t SELECT seq, REPEAT('x', 50) FROM seq_1_to_2000";
  const StoredTestDatabase source(server, {"cmdsource", rows, "shop"});
  ASSERT_TRUE(source.Ready());
  const std::string store = "--store " + source.storePath();
  ASSERT_EQ(Vaultwick("backup --connection shop " + store).status, 0);

  TestDatabase target(server, "cmdtarget");
  ASSERT_TRUE(target.ok()) << target.error();
  const std::string restore = "restore --connection shop --database " + target.name() + " ";
  Ran run = Vaultwick(restore + store);
  EXPECT_EQ(run.status, 0) << run.output;
  // Read once, by the load into the staging database.
  EXPECT_NE(run.output.find("Loading `t`\n"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Checking the archive"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Restored 2000 rows"), std::string::npos) << run.output;

  run = Vaultwick(restore + store);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("holds 1 tables; --replace"), std::string::npos) << run.output;
  EXPECT_EQ(Vaultwick(restore + "--replace " + store).status, 0);
  EXPECT_EQ(
      Vaultwick("restore --host " + Address(server) + " --login " + server.user + " --archive " +
                    source.ArchivePath() + " --replace --database " + target.name(),
                "VAULTWICK_PASSWORD='" + server.password + "'")
          .status,
      0);

  run = Vaultwick(restore + "--archive " + source.scratch().File("missing.zip") + " " + store);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("missing.zip"), std::string::npos) << run.output;
  EXPECT_EQ(Vaultwick("restore --connection nobody --database x " + store).status, 1);
  // The private server offers no TLS: refused before the load starts.
  run = Vaultwick("restore --host " + Address(server) + " --login " + server.user +
                      " --tls required --archive " + source.ArchivePath() +
                      " --replace --database " + target.name(),
                  "VAULTWICK_PASSWORD='" + server.password + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("the server offers no TLS"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Loading"), std::string::npos) << run.output;

  // An encrypted archive: the connection's password opens it; from --host it
  // takes the password on standard input, and says so when it has none.
  ASSERT_EQ(SetArchiveEncryption(*source.OpenStore(), "shop", true, "archive words"),
            ChangeResult::Done);
  ASSERT_EQ(Vaultwick("backup --connection shop " + store).status, 0);
  run = Vaultwick(restore + "--replace " + store);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Restored 2000 rows"), std::string::npos) << run.output;
  const std::string fromHost = "restore --host " + Address(server) + " --login " + server.user +
                               " --archive " + source.ArchivePath() + " --replace --database " +
                               target.name();
  const std::string login = "VAULTWICK_PASSWORD='" + server.password + "'";
  run = Vaultwick(fromHost, login + " ");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("shop.sql is encrypted, and no archive password was given"),
            std::string::npos)
      << run.output;
  run = Vaultwick(fromHost + " --archive-password-stdin", "echo wrong | " + login);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("under another password"), std::string::npos) << run.output;
  run = Vaultwick(fromHost + " --archive-password-stdin", "echo archive words | " + login);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* usage : {"restore --database x", "restore --connection shop",
                            "restore --connection shop --host h --database x",
                            "restore --connection shop --tls off --database x",
                            "restore --host h --login l --archive a --database x --tls on",
                            "restore --host h --login l --database x", "restore --bogus",
                            "restore --host h --login l --archive a --database x --jobs 0"}) {
    EXPECT_EQ(Vaultwick(usage).status, 2) << usage;
  }
}

// The hostile databases make the round trip a user makes: `vaultwick backup`
// into an archive, `vaultwick restore` from it into a new database, and the
// two databases compare equal aspect by aspect, what information_schema does
// not show included, whatever the number of connections that load it.
TEST(RestoreCommand, HostileDatabasesComeBackEqualThroughBackupAndRestore) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  const std::string serverOptions = "--host " + Address(server) + " --login " + server.user;
  const std::string password = "VAULTWICK_PASSWORD='" + server.password + "'";
  struct Case {
    const char* name;
    std::string sql;
  };
  for (const Case& c :
       {Case{"types",
             "SET time_zone = '+00:00'; SET sql_mode = 'STRICT_ALL_TABLES';" + EveryTypeSchema()},
        Case{"values", kHostileValues},
        Case{"objects", std::string(kEveryObjectSchema) + kStoredPrograms}}) {
    SCOPED_TRACE(c.name);
    TestDatabase original(server, c.name);
    ASSERT_TRUE(original.Execute(c.sql));
    ScratchFolder scratch;
    Ran run = Vaultwick("backup --name " + std::string(c.name) + " " + serverOptions +
                            " --database " + original.name() + " --save-to " + scratch.path(),
                        password);
    ASSERT_EQ(run.status, 0) << run.output;

    // On one connection and on several: each table's rows on one of them.
    for (const char* jobs : {"1", "2", "4"}) {
      SCOPED_TRACE(jobs);
      TestDatabase restored(server, std::string(c.name) + "_back");
      run = Vaultwick("restore " + serverOptions + " --jobs " + jobs + " --archive " +
                          scratch.File(std::string(c.name) + ".zip") + " --database " +
                          restored.name(),
                      password);
      ASSERT_EQ(run.status, 0) << run.output;
      EXPECT_TRUE(SameSchema(original, restored));
      if (c.name == std::string("objects")) {
        for (const char* hidden : kHiddenQueries) {
          std::vector<ResultRow> before;
          std::vector<ResultRow> after;
          ASSERT_TRUE(original.Query(hidden, &before));
          ASSERT_TRUE(restored.Query(hidden, &after));
          EXPECT_EQ(after, before) << hidden;
        }
      }
    }
  }
}

// A name beyond ASCII under each locale setting a user may run the programs
// with (none at all, C, C.UTF-8), and the longest name the rule accepts: each
// backs up and comes back through `vaultwick restore`. The password reaches
// both on standard input, with no VAULTWICK_PASSWORD to fall back on.
TEST(RestoreCommand, NamesBeyondAsciiAndTheLongestNameMakeTheRoundTripInAnyLocale) {
  VAULTWICK_REQUIRE_TEST_SERVER(server);
  TestDatabase original(server, "names");
  ASSERT_TRUE(original.Execute("CREATE TABLE t(id INT PRIMARY KEY); INSERT INTO t VALUES(7)"));
  const std::string serverOptions =
      "--host " + Address(server) + " --login " + server.user + " --password-stdin";
  const std::string noLocale = "printf '%s\\n' '" + server.password +
                               "' | env -u LANG -u LANGUAGE -u LC_ALL -u LC_CTYPE -u LC_MESSAGES "
                               "-u VAULTWICK_PASSWORD";
  struct Case {
    std::string name;
    std::string environment;
  };
  const std::string grusse = "Gr\u00FC\u00DFe";
  for (const Case& c :
       {Case{grusse, noLocale}, Case{grusse, noLocale + " LC_ALL=C"},
        Case{grusse, noLocale + " LC_ALL=C.UTF-8"}, Case{std::string(251, 'n'), noLocale}}) {
    SCOPED_TRACE(c.environment + " " + c.name);
    ScratchFolder scratch;
    Ran run = Vaultwick("backup --name '" + c.name + "' " + serverOptions + " --database " +
                            original.name() + " --save-to " + scratch.path(),
                        c.environment);
    ASSERT_EQ(run.status, 0) << run.output;
    TestDatabase restored(server, "names_back");
    run = Vaultwick("restore " + serverOptions + " --archive '" + scratch.File(c.name + ".zip") +
                        "' --database " + restored.name(),
                    c.environment);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(SameSchema(original, restored));
  }
}

}  // namespace
}  // namespace vaultwick::test
