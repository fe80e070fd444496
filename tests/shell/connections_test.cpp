// The connection operations and the target folder against a real store file.

#include "shell/connections.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "shell/stored_backup.h"
#include "shell/target_folder.h"
#include "tests/shell/shell_test_support.h"

namespace vaultwick::test {
namespace {

class ConnectionsTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
  std::unique_ptr<SettingsStore> store_ = SettingsStore::Open(scratch_.File("s.sqlite"));

  ConnectionProfile Profile(const std::string& name) {
    return ConnectionProfile{name, {"db.example", "backup", "pw", "shop", {}, {}}, 22, 8};
  }

  // The stored scratch database of `name`; nullopt when there is no such connection.
  std::optional<std::string> VerifyRestoreOf(std::string_view name) {
    std::optional<StoredConnection> stored = ReadStoredConnection(*store_, name);
    return stored ? std::optional<std::string>(stored->verifyRestore) : std::nullopt;
  }
};

TEST_F(ConnectionsTest, AddPicksTheFirstFreeNameIgnoringCaseWithDefaults) {
  ASSERT_EQ(AddConnectionNamed(*store_, "new connection"), ChangeResult::Done);
  EXPECT_EQ(AddConnection(*store_), "New Connection 0");
  EXPECT_EQ(AddConnection(*store_), "New Connection 1");
  EXPECT_EQ(AddConnectionNamed(*store_, "NEW CONNECTION 1"), ChangeResult::NameExists);
  EXPECT_EQ(ListConnections(*store_),
            (std::vector<std::string>{"new connection", "New Connection 0", "New Connection 1"}));
  EXPECT_EQ(LoadConnection(*store_, "New Connection 0"),
            (ConnectionProfile{
                "New Connection 0", {"Host Name", "Login", "", "Database", {}, {}}, 0, 1}));
  EXPECT_FALSE(LoadConnection(*store_, "nothing"));
}

TEST_F(ConnectionsTest, ListIsSortedWithoutRegardToCase) {
  for (const char* name : {"beta", "Alpha", "gamma", "Delta"}) {
    ASSERT_EQ(AddConnectionNamed(*store_, name), ChangeResult::Done);
  }
  EXPECT_EQ(ListConnections(*store_),
            (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
  EXPECT_TRUE(RemoveConnection(*store_, "DELTA"));
  EXPECT_FALSE(RemoveConnection(*store_, "Delta"));
}

TEST_F(ConnectionsTest, ApplyRenamesInOneStepAndRefusesWithoutChangingAnything) {
  ASSERT_EQ(AddConnectionNamed(*store_, "A"), ChangeResult::Done);
  ASSERT_EQ(AddConnectionNamed(*store_, "B"), ChangeResult::Done);

  // A change of letter case only passes the duplicate check.
  EXPECT_EQ(ApplyConnectionChanges(*store_, "A", Profile("a")), ChangeResult::Done);
  EXPECT_EQ(ListConnections(*store_), (std::vector<std::string>{"a", "B"}));
  EXPECT_EQ(LoadConnection(*store_, "a"), Profile("a"));

  const std::vector<std::string> before = ListConnections(*store_);
  EXPECT_EQ(ApplyConnectionChanges(*store_, "a", Profile("b")), ChangeResult::NameExists);
  ConnectionProfile bad = Profile("a");
  bad.startHour = 24;
  EXPECT_EQ(ApplyConnectionChanges(*store_, "a", bad), ChangeResult::InvalidStartHour);
  bad = Profile("a");
  bad.periodHours = 5;
  EXPECT_EQ(ApplyConnectionChanges(*store_, "a", bad), ChangeResult::InvalidPeriod);
  for (const char* name : {"", ".", "..", "x/y", "x\\y", "two\nlines"}) {
    EXPECT_EQ(ApplyConnectionChanges(*store_, "a", Profile(name)), ChangeResult::InvalidName)
        << name;
  }
  EXPECT_EQ(ListConnections(*store_), before);
  EXPECT_EQ(LoadConnection(*store_, "a"), Profile("a"));

  EXPECT_EQ(ApplyConnectionChanges(*store_, "a", Profile("Shop")), ChangeResult::Done);
  EXPECT_EQ(ListConnections(*store_), (std::vector<std::string>{"B", "Shop"}));
  EXPECT_STREQ(ChangeResultText(ChangeResult::NameExists),
               "Connection with such name already exists");
}

// The main window shows no test restore setting, so its Apply must keep it;
// and a scratch database is dropped after each use, so it is never the
// database backed up.
TEST_F(ConnectionsTest, TestRestoreSettingFollowsTheConnectionAndNeverNamesItsDatabase) {
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  EXPECT_EQ(VerifyRestoreOf("a"), "");
  EXPECT_EQ(SetVerifyRestore(*store_, "a", "shop_scratch"), ChangeResult::Done);
  EXPECT_EQ(ApplyConnectionChanges(*store_, "A", Profile("Renamed")), ChangeResult::Done);
  EXPECT_EQ(VerifyRestoreOf("renamed"), "shop_scratch");

  for (const char* scratch : {"", "SHOP"}) {
    EXPECT_EQ(SetVerifyRestore(*store_, "Renamed", scratch), ChangeResult::InvalidScratchDatabase)
        << scratch;
  }
  ConnectionProfile ontoScratch = Profile("Renamed");
  ontoScratch.server.database = "shop_scratch";
  EXPECT_EQ(ApplyConnectionChanges(*store_, "Renamed", ontoScratch),
            ChangeResult::InvalidScratchDatabase);
  EXPECT_EQ(LoadConnection(*store_, "Renamed"), Profile("Renamed"));

  EXPECT_EQ(SetVerifyRestore(*store_, "Renamed", std::nullopt), ChangeResult::Done);
  EXPECT_EQ(VerifyRestoreOf("Renamed"), "");
  EXPECT_EQ(SetVerifyRestore(*store_, "nobody", "x"), std::nullopt);
  EXPECT_EQ(VerifyRestoreOf("nobody"), std::nullopt);
}

// Nor does it show TLS: its Apply keeps that too, and a rename takes it along.
TEST_F(ConnectionsTest, TlsSettingFollowsTheConnection) {
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  const TlsSettings verify{TlsMode::VerifyCa, "/etc/db-ca.pem"};
  EXPECT_TRUE(SetConnectionTls(*store_, "a", verify));
  EXPECT_EQ(ApplyConnectionChanges(*store_, "A", Profile("Renamed")), ChangeResult::Done);
  EXPECT_EQ(LoadConnection(*store_, "renamed")->server.tls, verify);
  EXPECT_FALSE(SetConnectionTls(*store_, "nobody", verify));
}

// Nor the archive encryption: Apply and renames keep it and its password
// (else every archive made under it is lost); turning it off keeps the
// password too. Turning it on makes a password only when there is none.
TEST_F(ConnectionsTest, ArchiveEncryptionAndItsPasswordFollowTheConnection) {
  const auto stored = [&](std::string_view name) { return *ReadStoredConnection(*store_, name); };
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  ASSERT_EQ(ApplyConnectionChanges(*store_, "B", Profile("B")), ChangeResult::Done);
  EXPECT_FALSE(stored("A").encryptArchives);
  EXPECT_EQ(stored("A").archivePassword, "");

  ASSERT_EQ(SetArchiveEncryption(*store_, "a", true, std::nullopt), ChangeResult::Done);
  ASSERT_EQ(SetArchiveEncryption(*store_, "b", true, std::nullopt), ChangeResult::Done);
  const std::string made = stored("A").archivePassword;
  EXPECT_EQ(made.size(), 34u) << made;  // 28 symbols of 5 bits in groups of four
  EXPECT_NE(made, stored("B").archivePassword);

  ConnectionProfile changed = Profile("Renamed");
  changed.server.host = "db2.example";
  EXPECT_EQ(ApplyConnectionChanges(*store_, "A", changed), ChangeResult::Done);
  EXPECT_TRUE(stored("renamed").encryptArchives);
  EXPECT_EQ(stored("renamed").archivePassword, made);

  EXPECT_EQ(SetArchiveEncryption(*store_, "renamed", false, std::nullopt), ChangeResult::Done);
  EXPECT_FALSE(stored("renamed").encryptArchives);
  EXPECT_EQ(stored("renamed").archivePassword, made);
  EXPECT_EQ(SetArchiveEncryption(*store_, "renamed", true, std::nullopt), ChangeResult::Done);
  EXPECT_EQ(stored("renamed").archivePassword, made);

  EXPECT_EQ(SetArchiveEncryption(*store_, "renamed", std::nullopt, "chosen"), ChangeResult::Done);
  EXPECT_EQ(stored("renamed").archivePassword, "chosen");
  EXPECT_EQ(SetArchiveEncryption(*store_, "renamed", std::nullopt, ""),
            ChangeResult::EmptyArchivePassword);
  EXPECT_EQ(stored("renamed").archivePassword, "chosen");
  EXPECT_EQ(SetArchiveEncryption(*store_, "nobody", true, std::nullopt), std::nullopt);

  // Each job of the connection takes the password while encryption is on.
  const auto jobPassword = [&](const std::string& name) {
    BackupJob request;
    request.name = name;
    AddStoredSettings(*store_, request);
    EXPECT_EQ(request.encryptionUnavailable, "");
    return request.archivePassword;
  };
  EXPECT_EQ(jobPassword("RENAMED"), "chosen");
  EXPECT_EQ(jobPassword("nobody"), "");
  ASSERT_EQ(SetArchiveEncryption(*store_, "renamed", false, std::nullopt), ChangeResult::Done);
  EXPECT_EQ(jobPassword("renamed"), "");
}

// A test restore that cannot be known to be off is one that failed: when the
// store cannot say, the job gets a test restore that fails with its error.
TEST_F(ConnectionsTest, AStoreThatCannotBeReadGivesAFailedTestRestore) {
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  ASSERT_EQ(SetVerifyRestore(*store_, "A", "shop_scratch"), ChangeResult::Done);
  BackupJob asked;
  asked.name = "A";
  AddStoredSettings(*store_, asked);
  EXPECT_EQ(asked.verifyRestore, "shop_scratch");
  EXPECT_TRUE(asked.testRestore);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store_->path().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(
      sqlite3_exec(db, "ALTER TABLE Connections RENAME TO Elsewhere", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  BackupJob request;
  request.name = "A";
  // Nor is an archive that may have to be encrypted written in the clear.
  AddStoredSettings(*store_, request);
  EXPECT_EQ(
      request.encryptionUnavailable.rfind("the archive encryption setting could not be read: ", 0),
      0u)
      << request.encryptionUnavailable;
  ASSERT_TRUE(request.testRestore);
  const VerifyRestoreOutcome outcome = request.testRestore(request, StopToken(), "never-read.zip");
  EXPECT_EQ(outcome.result, VerifyRestoreOutcome::Result::Failed);
  EXPECT_EQ(outcome.detail.rfind("the test restore setting could not be read: ", 0), 0u)
      << outcome.detail;
  EXPECT_NE(outcome.detail.find("Connections"), std::string::npos) << outcome.detail;
}

// The keep policy starts at the defaults, follows the connection through a
// rename, refuses counts out of range whole, and a count stored out of range
// by other means reads as its default.
TEST_F(ConnectionsTest, KeepPolicyFollowsTheConnectionAndStaysInRange) {
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  EXPECT_EQ(LoadKeepPolicy(*store_, "a"), KeepPolicy{});
  EXPECT_EQ(SetKeepPolicy(*store_, "a", KeepPolicy{24, 0, 0, 12}), ChangeResult::Done);
  EXPECT_EQ(ApplyConnectionChanges(*store_, "A", Profile("Renamed")), ChangeResult::Done);
  EXPECT_EQ(LoadKeepPolicy(*store_, "renamed"), (KeepPolicy{24, 0, 0, 12}));

  EXPECT_EQ(SetKeepPolicy(*store_, "Renamed", KeepPolicy{1, 1, -1, 1}),
            ChangeResult::InvalidKeepCount);
  EXPECT_EQ(SetKeepPolicy(*store_, "Renamed", KeepPolicy{1001, 1, 1, 1}),
            ChangeResult::InvalidKeepCount);
  EXPECT_EQ(LoadKeepPolicy(*store_, "Renamed"), (KeepPolicy{24, 0, 0, 12}));
  EXPECT_EQ(SetKeepPolicy(*store_, "nobody", KeepPolicy{}), std::nullopt);
  EXPECT_EQ(LoadKeepPolicy(*store_, "nobody"), std::nullopt);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store_->path().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE Connections SET KeepDaily = -3, KeepMonthly = 5000", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  EXPECT_EQ(LoadKeepPolicy(*store_, "Renamed"), (KeepPolicy{24, 7, 0, 6}));
}

TEST_F(ConnectionsTest, StoredScheduleNormalisesOnTheLowByte) {
  struct Case {
    std::int64_t stored;
    int start;
    int period;
  };
  for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{23, 23, 23}, Case{24, 0, 24},
                        Case{25, 1, 1}, Case{30, 6, 6}, Case{48, 0, 24}, Case{256 + 30, 6, 6},
                        Case{-1, 23, -1}, Case{-24, 0, 0}, Case{200, 16, -8}}) {
    EXPECT_EQ(NormaliseStartHour(c.stored), c.start) << c.stored;
    EXPECT_EQ(NormalisePeriod(c.stored), c.period) << c.stored;
  }
  ASSERT_EQ(AddConnectionNamed(*store_, "odd"), ChangeResult::Done);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store_->path().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE Connections SET Start = 30, Period = 48", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::optional<ConnectionProfile> odd = LoadConnection(*store_, "odd");
  EXPECT_EQ(odd->startHour, 6);
  EXPECT_EQ(odd->periodHours, 24);
}

TEST_F(ConnectionsTest, TargetFolderIsMadeOneLevelDeepAndMustBeAFolder) {
  namespace fs = std::filesystem;
  const std::string made = scratch_.File("archives");
  EXPECT_EQ(CheckTargetFolder(made + "/"), made);
  EXPECT_TRUE(fs::is_directory(made));
  EXPECT_EQ(ModeOf(made), 0700);
  EXPECT_FALSE(CheckTargetFolder(scratch_.File("missing/archives")));
  EXPECT_FALSE(fs::exists(scratch_.File("missing")));
  EXPECT_FALSE(CheckTargetFolder(""));
  WriteFileBytes(scratch_.File("plain"), "x");
  EXPECT_FALSE(CheckTargetFolder(scratch_.File("plain")));
  EXPECT_FALSE(CheckTargetFolder(std::string(kMaxTargetFolderBytes + 1, 'a')));

  const fs::path here = fs::current_path();
  fs::current_path(scratch_.path());
  EXPECT_EQ(CheckTargetFolder("archives"), made);
  fs::current_path(here);

  EXPECT_EQ(LoadTargetFolder(*store_), "");
  SaveTargetFolder(*store_, made);
  EXPECT_EQ(LoadTargetFolder(*store_), made);
}

TEST_F(ConnectionsTest, StoredConnectionBringsItsTestRestoreAndTheTargetFolder) {
  ASSERT_EQ(AddConnectionNamed(*store_, "A"), ChangeResult::Done);
  ASSERT_EQ(ApplyConnectionChanges(*store_, "A", Profile("A")), ChangeResult::Done);
  ASSERT_EQ(SetVerifyRestore(*store_, "A", "shop_scratch"), ChangeResult::Done);
  SaveTargetFolder(*store_, "/srv/backups");
  const std::optional<StoredConnection> stored = ReadStoredConnection(*store_, "a");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->profile, Profile("A"));
  EXPECT_EQ(stored->verifyRestore, "shop_scratch");
  EXPECT_EQ(stored->saveTo, "/srv/backups");
  EXPECT_FALSE(ReadStoredConnection(*store_, "B"));
}

// Two programs adding connections at the same moment each get names of their
// own: none lost, none twice.
TEST(SharedStoreTest, TwoProcessesAddingConnectionsGetNamesOfTheirOwn) {
  ScratchFolder scratch;
  const std::string path = scratch.File("shared.sqlite");
  SettingsStore::Open(path).reset();
  constexpr int kEach = 40;
  pid_t children[2];
  for (pid_t& child : children) {
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int status = 0;
      try {
        auto store = SettingsStore::Open(path);
        HistoryRow row;
        row.connection = "x";
        for (int i = 0; i < kEach; ++i) {
          AddConnection(*store);
          store->AppendHistory(row);
        }
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto store = SettingsStore::Open(path);
  const std::vector<std::string> names = ListConnections(*store);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 2u * kEach);
  EXPECT_TRUE(store->ReadConnection("New Connection " + std::to_string(2 * kEach - 2)));
  EXPECT_EQ(store->ReadHistory("", 1000).size(), 2u * kEach);
}

}  // namespace
}  // namespace vaultwick::test
