// The store commands called in-process, as `vaultwick` calls them, with
// memory streams for standard input, output and error.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "backup/restore_point_layout.h"
#include "cli/connections_command.h"
#include "cli/history_command.h"
#include "cli/restore_command.h"
#include "cli/restore_points_command.h"
#include "cli/status_command.h"
#include "cli/target_command.h"
#include "tests/cli/command_call.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

class StoreCommandsTest : public ::testing::Test {
 protected:
  CommandRun Connections(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.end(), {"--store", store_});
    return Call(RunConnectionsCommand, std::move(arguments), input);
  }
  // The line of `connections show shop` that starts with `label`, with its line end.
  std::string ShownLine(const std::string& label) {
    const std::string out = Connections({"show", "shop"}).out;
    const std::size_t at = std::min(out.find("\n" + label), out.size());
    return out.substr(at + 1, out.find('\n', at + 1) - at);
  }
  ScratchFolder scratch_;
  std::string store_ = scratch_.File("s.sqlite");
};

TEST_F(StoreCommandsTest, ConnectionsAddListShowSetRemove) {
  EXPECT_EQ(Connections({"add"}).out, "New Connection\n");
  EXPECT_EQ(Connections({"add", "shop"}).out, "shop\n");
  EXPECT_EQ(Connections({"add"}).out, "New Connection 0\n");
  EXPECT_EQ(Connections({"list"}).out, "New Connection\nNew Connection 0\nshop\n");

  CommandRun set = Connections(
      {"set", "SHOP", "--name", "Shop", "--host", "db:3307", "--login", "bk", "--database", "sales",
       "--start-hour", "22", "--period", "8", "--password-stdin"},
      "s3cret\nignored\n");
  EXPECT_EQ(set.status, 0) << set.err;
  CommandRun show = Connections({"show", "shop"});
  EXPECT_EQ(show.out,
            "Name:          Shop\nHost:          db:3307\nLogin:         bk\n"
            "Password:      ********\nDatabase:      sales\nStart at:      22:00\n"
            "Update every:  8 hour(s)\nTest restore:  off\n"
            "Keep:          0 hourly, 7 daily, 4 weekly, 6 monthly\nTLS:           preferred\n"
            "Encryption:    off\n");
  EXPECT_EQ(show.out.find("s3cret"), std::string::npos);

  // The test restore: on, refused for the database itself (with nothing of
  // the same call kept), moved aside by a new database, and off.
  EXPECT_EQ(Connections({"set", "Shop", "--verify-restore", "sales_check"}).status, 0);
  EXPECT_NE(Connections({"show", "Shop"}).out.find("Test restore:  into sales_check\n"),
            std::string::npos);
  CommandRun onItself = Connections({"set", "Shop", "--host", "h2", "--verify-restore", "SALES"});
  EXPECT_EQ(onItself.status, 1);
  EXPECT_NE(onItself.err.find("must not be the database backed up"), std::string::npos);
  EXPECT_EQ(Connections({"set", "Shop", "--database", "sales_check"}).status, 1);
  EXPECT_EQ(
      Connections({"set", "Shop", "--database", "sales_check", "--verify-restore", "sales"}).status,
      0);
  EXPECT_NE(Connections({"show", "Shop"}).out.find("db:3307"), std::string::npos);
  EXPECT_EQ(Connections({"set", "Shop", "--no-verify-restore", "--database", "sales"}).status, 0);
  EXPECT_NE(Connections({"show", "Shop"}).out.find("Test restore:  off\n"), std::string::npos);

  // The keep policy: the counts given change, the others stay; a count out
  // of range refuses the whole call.
  EXPECT_EQ(Connections({"set", "Shop", "--keep-hourly", "24", "--keep-monthly", "0"}).status, 0);
  EXPECT_NE(Connections({"show", "Shop"})
                .out.find("Keep:          24 hourly, 7 daily, 4 weekly, 0 "
                          "monthly\n"),
            std::string::npos);
  CommandRun tooMany = Connections({"set", "Shop", "--host", "h3", "--keep-daily", "1001"});
  EXPECT_EQ(tooMany.status, 1);
  EXPECT_EQ(tooMany.err,
            "vaultwick connections: A keep count must be a whole number from 0 to 1000: Shop\n");
  EXPECT_NE(Connections({"show", "Shop"}).out.find("db:3307"), std::string::npos);

  CommandRun refused = Connections({"set", "Shop", "--period", "5"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "vaultwick connections: The period must be 1, 2, 3, 4, 6, 8, 12 or 24 "
            "hours: Shop\n");
  EXPECT_EQ(Connections({"set", "Shop", "--name", "new connection"}).status, 1);
  EXPECT_EQ(Connections({"remove", "shop"}).status, 0);
  EXPECT_EQ(Connections({"remove", "shop"}).err,
            "vaultwick connections: no connection named 'shop'\n");
  EXPECT_EQ(Connections({"show", "shop"}).status, 1);

  for (std::vector<std::string> usage :
       {std::vector<std::string>{},
        {"rename", "x"},
        {"show"},
        {"list", "--host", "h"},
        {"set", "x", "--start-hour", "ten"},
        {"set", "x", "--keep-daily", "7d"},
        {"set", "x", "--password", "p"},
        {"set", "x", "--verify-restore", "a", "--no-verify-restore"},
        {"add", "a", "b"}}) {
    EXPECT_EQ(Connections(usage).status, 2) << ::testing::PrintToString(usage);
  }
  EXPECT_EQ(Connections({"list"}).out, "New Connection\nNew Connection 0\n");
}

// The TLS mode and CA file: shown, kept by other changes, the CA file made
// absolute (the scheduler runs from another folder), a mode that is none refused.
TEST_F(StoreCommandsTest, ConnectionsSetAndShowTls) {
  ASSERT_EQ(Connections({"add", "shop"}).status, 0);
  const auto tlsLine = [&] { return ShownLine("TLS:"); };
  EXPECT_EQ(Connections({"set", "shop", "--tls", "verify-ca", "--tls-ca", "ca.pem"}).status, 0);
  EXPECT_EQ(tlsLine(), "TLS:           verify-ca, CA " +
                           (std::filesystem::current_path() / "ca.pem").string() + "\n");
  EXPECT_EQ(Connections({"set", "shop", "--host", "db", "--tls", "verify-identity"}).status, 0);
  EXPECT_NE(tlsLine().find("verify-identity, CA /"), std::string::npos) << tlsLine();
  EXPECT_EQ(Connections({"set", "shop", "--tls-ca", ""}).status, 0);
  EXPECT_EQ(tlsLine(), "TLS:           verify-identity, the system's CAs\n");
  CommandRun bad = Connections({"set", "shop", "--tls", "on", "--host", "other"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--tls takes preferred, required, verify-ca, verify-identity or off"),
            std::string::npos)
      << bad.err;
  EXPECT_NE(Connections({"show", "shop"}).out.find("Host:          db\n"), std::string::npos);
  EXPECT_EQ(Connections({"set", "shop", "--tls", "off"}).status, 0);
  EXPECT_EQ(tlsLine(), "TLS:           off\n");
}

// Encryption on makes a password that show keeps hidden and the reveal prints;
// off keeps it for the older archives; a chosen one comes from standard input.
TEST_F(StoreCommandsTest, ConnectionsSetEncryptionAndRevealItsPassword) {
  ASSERT_EQ(Connections({"add", "shop"}).status, 0);
  const auto encryptionLine = [&] { return ShownLine("Encryption:"); };
  EXPECT_EQ(Connections({"show", "shop", "--reveal-archive-password"}).status, 1);

  CommandRun on = Connections({"set", "shop", "--encrypt"});
  EXPECT_EQ(on.status, 0);
  EXPECT_NE(on.err.find("--reveal-archive-password"), std::string::npos) << on.err;
  CommandRun revealed = Connections({"show", "shop", "--reveal-archive-password"});
  EXPECT_EQ(revealed.status, 0);
  const std::string made = revealed.out.substr(0, revealed.out.size() - 1);
  EXPECT_EQ(made.size(), 34u) << revealed.out;
  EXPECT_EQ(encryptionLine(), "Encryption:    on\n");
  EXPECT_EQ(Connections({"show", "shop"}).out.find(made), std::string::npos);

  EXPECT_EQ(Connections({"set", "shop", "--no-encrypt", "--host", "db"}).status, 0);
  EXPECT_EQ(encryptionLine(), "Encryption:    off (a password is kept for older archives)\n");
  EXPECT_EQ(Connections({"show", "shop", "--reveal-archive-password"}).out, made + "\n");
  CommandRun chosen =
      Connections({"set", "shop", "--encrypt", "--archive-password-stdin"}, "my words\n");
  EXPECT_EQ(chosen.status, 0);
  EXPECT_EQ(chosen.err, "");
  EXPECT_EQ(Connections({"show", "shop", "--reveal-archive-password"}).out, "my words\n");
  EXPECT_EQ(Connections({"set", "shop", "--archive-password-stdin"}, "\n").status, 1);
  EXPECT_EQ(Connections({"show", "shop", "--reveal-archive-password"}).out, "my words\n");

  for (std::vector<std::string> usage :
       {std::vector<std::string>{"set", "shop", "--encrypt", "--no-encrypt"},
        {"set", "shop", "--password-stdin", "--archive-password-stdin"},
        {"set", "shop", "--reveal-archive-password"},
        {"list", "--reveal-archive-password"},
        {"show", "shop", "--encrypt"}}) {
    EXPECT_EQ(Connections(usage).status, 2) << ::testing::PrintToString(usage);
  }
}

// Ctrl-C at the password prompt ends the command, and the terminal echoes
// again: the user's shell is not left typing blind.
TEST_F(StoreCommandsTest, PasswordPromptInterruptedLeavesTheTerminalEchoing) {
  ASSERT_EQ(Connections({"add", "shop"}).status, 0);
  int terminal = -1;
  int asked = -1;
  ASSERT_EQ(::openpty(&terminal, &asked, nullptr, nullptr, nullptr), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CommandIo io;
    io.in = ::fdopen(asked, "r");
    io.out = ::fdopen(::dup(asked), "w");
    io.err = ::fdopen(::dup(asked), "w");
    std::vector<std::string> arguments = {"set", "shop", "--password-stdin", "--store", store_};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    ::_exit(RunConnectionsCommand(static_cast<int>(argv.size()), argv.data(), io));
  }
  // The prompt shows once echo is off and the signals are watched.
  std::string shown;
  struct pollfd ready = {terminal, POLLIN, 0};
  char c = 0;
  while (shown.find("Password: ") == std::string::npos && ::poll(&ready, 1, 10'000) == 1 &&
         ::read(terminal, &c, 1) == 1) {
    shown += c;
  }
  ASSERT_NE(shown.find("Password: "), std::string::npos) << shown;
  struct termios settings {};
  ASSERT_EQ(::tcgetattr(asked, &settings), 0);
  EXPECT_EQ(settings.c_lflag & ECHO, 0u);

  ASSERT_EQ(::kill(child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  ASSERT_EQ(::tcgetattr(asked, &settings), 0);
  EXPECT_NE(settings.c_lflag & ECHO, 0u);
  ::close(asked);
  ::close(terminal);
}

TEST_F(StoreCommandsTest, TargetChecksBeforeItStoresAndHistoryListsNewestFirst) {
  const std::string arch = scratch_.File("arch");
  CommandRun refused = Call(RunTargetCommand, {scratch_.File("no/arch"), "--store", store_});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "vaultwick target: Target directory does not exist and could not be "
            "created: " +
                scratch_.File("no/arch") + "\n");
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.path());
  CommandRun set = Call(RunTargetCommand, {"arch/", "--store", store_});
  std::filesystem::current_path(here);
  EXPECT_EQ(set.out, arch + "\n");
  EXPECT_EQ(Call(RunTargetCommand, {"--store", store_}).out, arch + "\n");

  {
    auto store = SettingsStore::Open(store_);
    HistoryRow row;
    row.startedBy = "schedule";
    row.connection = "old";
    row.result = "Complete";
    row.endText = "Backup complete";
    row.pruned = "old-20240101T000000Z.zip\nold-20240102T000000Z.zip";
    store->AppendHistory(row);
    row.pruned = "";
    row.archiveChecked = true;
    row.verified = "differs";
    row.verifyDetail = "line 7 of the archived dump";
    store->AppendHistory(row);
    row.connection = "new";
    row.result = "ConnectFailed";
    row.endText = "Can't connect to MySQL server";
    row.cause = "Access denied";
    row.durationMs = 1500;
    row.archiveChecked = false;
    row.verified = row.verifyDetail = "";
    store->AppendHistory(row);
  }
  CommandRun all = Call(RunHistoryCommand, {"--store", store_});
  EXPECT_EQ(all.status, 0);
  EXPECT_LT(all.out.find("new "), all.out.find("old "));
  EXPECT_NE(all.out.find("1.5 s"), std::string::npos);
  EXPECT_NE(all.out.find("  no       -         Can't connect to MySQL server (Access denied)\n"),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find("  yes      differs   Backup complete; test restore differs: line 7 of "
                         "the archived dump\n"),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find("Backup complete; restore points removed: old-20240101T000000Z.zip "
                         "old-20240102T000000Z.zip\n"),
            std::string::npos)
      << all.out;
  CommandRun one = Call(RunHistoryCommand, {"OLD", "--limit", "5", "--store", store_});
  EXPECT_EQ(one.out.find("new "), std::string::npos);
  EXPECT_NE(one.out.find("old "), std::string::npos);
  EXPECT_EQ(Call(RunHistoryCommand, {"--limit", "0", "--store", store_}).status, 2);
}

// 12:30 UTC: "daily" (02:00 every day) backed up well at 02:05; "hourly" last
// good at 08:10, past its three hours, and its last started run failed (a
// declined run after it does not count); "checked" placed its archive at
// 12:05 but the test restore found it different; "fresh" never ran.
TEST_F(StoreCommandsTest, StatusTellsStaleAndFailingConnectionsApart) {
  TestClock clock(LocalTime{2026, 12, 8, 12, 30, 0});
  const std::int64_t today = ToUnixSeconds(clock.Now()) - (12 * 3600 + 30 * 60);
  auto status = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--store", store_});
    return Call(
        [&](int n, char** v, const CommandIo& io) { return RunStatusCommand(n, v, io, clock); },
        std::move(arguments));
  };
  auto run = [&](const std::string& name, int endedHour, int endedMinute, const char* result,
                 const char* verified = "") {
    HistoryRow row;
    row.connection = name;
    row.startedBy = "schedule";
    row.startedAt = today + endedHour * 3600;
    row.endedAt = row.startedAt + endedMinute * 60;
    row.result = result;
    row.endText = result;
    row.verified = verified;
    SettingsStore::Open(store_)->AppendHistory(row);
  };
  Connections({"add", "daily"});
  Connections({"set", "daily", "--start-hour", "2", "--period", "24"});
  run("daily", 2, 5, "Complete");
  // What the target folder keeps of it: daily.zip and one restore point.
  const std::string target = scratch_.File("target");
  std::filesystem::create_directories(target + "/restore-points/daily");
  for (const std::string& archive :
       {target + "/daily.zip", target + "/restore-points/daily/daily-20261207T020500Z.zip"}) {
    std::FILE* file = std::fopen(archive.c_str(), "w");
    std::fclose(file);
  }
  Call(RunTargetCommand, {target, "--store", store_});
  CommandRun allWell = status({});
  EXPECT_EQ(allWell.status, 0) << allWell.err;
  EXPECT_EQ(allWell.out,
            "CONNECTION  LAST GOOD            AGE   LAST RUN  NEXT DUE             KEPT  OFFSITE  "
            "STATE  LAST RUN ENDED\n"
            "daily       2026-12-08 02:05:00  10 h  Complete  2026-12-09 02:00:00  2     -        "
            "ok\n");

  for (const char* name : {"hourly", "checked", "fresh"}) {
    Connections({"add", name});
  }
  run("hourly", 8, 10, "Complete");
  run("hourly", 12, 1, "ConnectFailed");
  run("hourly", 12, 2, "NotStarted");
  run("checked", 11, 5, "Complete", "verified");
  run("checked", 12, 5, "Complete", "differs");
  CommandRun table = status({});
  EXPECT_EQ(table.status, 1);
  EXPECT_EQ(table.out,
            "CONNECTION  LAST GOOD            AGE   LAST RUN       NEXT DUE             KEPT  "
            "OFFSITE  STATE           LAST RUN ENDED\n"
            "checked     2026-12-08 11:05:00  1 h   Complete       2026-12-08 13:00:00  0     -  "
            "      failing         Complete; test restore differs\n"
            "daily       2026-12-08 02:05:00  10 h  Complete       2026-12-09 02:00:00  2     -  "
            "      ok\n"
            "fresh       never                -     -              2026-12-08 13:00:00  0     -  "
            "      stale\n"
            "hourly      2026-12-08 08:10:00  4 h   ConnectFailed  2026-12-08 13:00:00  0     -  "
            "      stale, failing  ConnectFailed\n");

  CommandRun json = status({"--json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find(
                "{\"connection\": \"fresh\", \"lastGood\": null, \"ageSeconds\": null, "
                "\"lastResult\": null, \"lastRunStarted\": null, \"lastRunEnded\": \"\", "
                "\"nextDue\": " +
                std::to_string(today + 13 * 3600) +
                ", \"archivesKept\": 0, \"offsite\": null, \"stale\": true, \"failing\": false}"),
            std::string::npos)
      << json.out;
}

// The archives of a connection, newest first, and the one a restore --at
// takes (said before the server is asked anything; this one has no server).
TEST_F(StoreCommandsTest, RestorePointsListAndTheOneRestoreAtTakes) {
  const std::string arch = scratch_.File("arch");
  ASSERT_EQ(Call(RunTargetCommand, {arch, "--store", store_}).status, 0);
  ASSERT_EQ(Connections({"add", "shop"}).status, 0);
  ASSERT_EQ(Connections({"set", "shop", "--host", "127.0.0.1:1"}).status, 0);
  const std::string points = arch + "/restore-points/shop/";
  std::filesystem::create_directories(points);
  const ArchiveTime first =
      std::chrono::sys_days(std::chrono::year(2024) / 5 / 1) + std::chrono::hours(10);  // UTC
  WriteFileBytes(points + RestorePointFileName("shop", first), "first");
  WriteFileBytes(points + RestorePointFileName("shop", first + std::chrono::hours(24)), "second");
  WriteFileBytes(points + "shop-notes.zip", "not a point");
  WriteFileBytes(arch + "/shop.zip", "newest");

  const SystemClock clock;
  const auto local = [&](ArchiveTime time) { return FormatLocalTime(clock.ToLocalTime(time)); };
  CommandRun listed = Call(RunRestorePointsCommand, {"SHOP", "--store", store_});
  EXPECT_EQ(listed.status, 0);
  const std::string secondPath =
      points + RestorePointFileName("shop", first + std::chrono::hours(24));
  EXPECT_LT(listed.out.find(arch + "/shop.zip\n"), listed.out.find(secondPath));
  EXPECT_NE(listed.out.find(local(first) + "  5      -     -        -         -        " + points +
                            RestorePointFileName("shop", first) + "\n"),
            std::string::npos)
      << listed.out;
  EXPECT_EQ(listed.out.find("shop-notes"), std::string::npos);

  // A minute before the second point: the first. The --at text is local time.
  const std::string beforeSecond =
      local(first + std::chrono::hours(24) - std::chrono::minutes(1)).substr(0, 16);
  CommandRun taken = Call(RunRestoreCommand, {"--connection", "shop", "--at", beforeSecond,
                                              "--database", "x", "--store", store_});
  EXPECT_EQ(taken.out.rfind("Restoring " + points + RestorePointFileName("shop", first) +
                                ", placed " + local(first) + "\n",
                            0),
            0u)
      << taken.out;
  EXPECT_EQ(taken.status, 1) << "no server there";

  const std::string beforeFirst = local(first - std::chrono::minutes(1)).substr(0, 16);
  CommandRun refused = Call(RunRestoreCommand, {"--connection", "shop", "--at", beforeFirst,
                                                "--database", "x", "--store", store_});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "vaultwick restore: no archive of shop at or before " + beforeFirst +
                             ": the first is from " + local(first) + " (" + points +
                             RestorePointFileName("shop", first) + ")\n");
  EXPECT_EQ(refused.out, "");

  for (std::vector<std::string> usage :
       {std::vector<std::string>{"--connection", "shop", "--at", "May 1", "--database", "x"},
        {"--connection", "shop", "--at", "2024-05-01", "--archive", "a.zip", "--database", "x"},
        {"--host", "h", "--login", "l", "--archive", "a.zip", "--at", "2024-05-01", "--database",
         "x"}}) {
    usage.insert(usage.end(), {"--store", store_});
    EXPECT_EQ(Call(RunRestoreCommand, usage).status, 2) << ::testing::PrintToString(usage);
  }
  EXPECT_EQ(Call(RunRestorePointsCommand, {"nobody", "--store", store_}).status, 1);
  EXPECT_EQ(Call(RunRestorePointsCommand, {"--store", store_}).status, 2);
}

TEST_F(StoreCommandsTest, TheStoreComesFromTheOptionElseTheEnvironment) {
  const std::string other = scratch_.File("other.sqlite");
  ::setenv("VAULTWICK_STORE", other.c_str(), 1);
  EXPECT_EQ(Call(RunConnectionsCommand, {"add", "env"}).status, 0);
  EXPECT_EQ(Connections({"list"}).out, "");
  EXPECT_EQ(Call(RunConnectionsCommand, {"list"}).out, "env\n");
  ::unsetenv("VAULTWICK_STORE");

  WriteFileBytes(store_, "not a store");
  CommandRun damaged = Connections({"list"});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find(store_), std::string::npos);
  EXPECT_EQ(FileBytes(store_), "not a store");
}

}  // namespace
}  // namespace vaultwick::test
