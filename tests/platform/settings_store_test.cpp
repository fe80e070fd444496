// The settings store as a file: modes, files it must refuse and leave alone,
// migration and missing values.

#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/support/scratch_folder.h"

namespace vaultwick::test {
namespace {

// Runs SQL on the file with a plain SQLite connection, as another program would.
void RunForeignSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(SettingsStoreTest, NewStoreIsPrivateAndKeepsWhatWasWritten) {
  ScratchFolder scratch;
  const std::string folder = scratch.File("config/tessaly-vaultwick");
  const std::string path = folder + "/settings.sqlite";
  {
    auto store = SettingsStore::Open(path);
    ConnectionRow row;
    row.name = "Shop";
    row.server.password = "secret";
    ASSERT_TRUE(store->InsertConnection(row));
    store->WriteText(settings::kSaveTo, "/backups");
    EXPECT_EQ(ModeOf(path), 0600);
    EXPECT_EQ(ModeOf(path + "-wal"), 0600);
    EXPECT_EQ(ModeOf(path + "-shm"), 0600);
  }
  EXPECT_EQ(ModeOf(folder), 0700);
  EXPECT_EQ(ModeOf(scratch.File("config")), 0700);
  auto again = SettingsStore::Open(path);
  EXPECT_EQ(again->ReadConnection("SHOP")->server.password, "secret");
  EXPECT_EQ(again->ReadText(settings::kSaveTo), "/backups");
}

TEST(SettingsStoreTest, RefusesFilesItDidNotMakeAndLeavesThemAlone) {
  ScratchFolder scratch;
  const std::string text = scratch.File("notes.txt");
  WriteFileBytes(text, std::string(4096, 'x'));
  const std::string foreign = scratch.File("other.sqlite");
  RunForeignSql(foreign, "CREATE TABLE t(a); INSERT INTO t VALUES(1)");
  const std::string newer = scratch.File("newer.sqlite");
  SettingsStore::Open(newer).reset();
  RunForeignSql(newer, "PRAGMA user_version=99");
  const std::string damaged = scratch.File("damaged.sqlite");
  {
    auto store = SettingsStore::Open(damaged);
    ConnectionRow row;
    row.name = "shop";
    ASSERT_TRUE(store->InsertConnection(row));
  }
  std::string bytes = FileBytes(damaged);
  ASSERT_GT(bytes.size(), 12288u);
  bytes.replace(4096, 8192, std::string(8192, '\x5a'));  // Connections and its index
  WriteFileBytes(damaged, bytes);

  struct Case {
    std::string path;
    std::string why;
  };
  for (const Case& c :
       {Case{text, "damaged or not a settings store"}, Case{foreign, "not a settings store"},
        Case{newer, "newer version"}, Case{damaged, "damaged"}}) {
    SCOPED_TRACE(c.path);
    const std::string before = FileBytes(c.path);
    try {
      auto store = SettingsStore::Open(c.path);
      store->ConnectionNames();
      ADD_FAILURE() << "opened and read";
    } catch (const SettingsStoreError& error) {
      EXPECT_NE(std::string(error.what()).find(c.path), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.why), std::string::npos) << error.what();
    }
    EXPECT_EQ(FileBytes(c.path), before);
  }
}

// A store of the first schema version gains what later ones added (the
// scheduled runs; the test restore setting and the history's checks; the
// keep policy, at its defaults, the history's pruned files; the off-site
// copies and the history's off-site columns), and keeps
// what it held; its old history rows know nothing of the checks.
TEST(SettingsStoreTest, OlderSchemaIsMigrated) {
  ScratchFolder scratch;
  const std::string path = scratch.File("old.sqlite");
  SettingsStore::Open(path).reset();
  RunForeignSql(path,
                "DROP TABLE ScheduledRuns; DROP TABLE StaleAlerts; ALTER TABLE Connections DROP "
                "COLUMN VerifyRestore;"
                "ALTER TABLE Connections DROP COLUMN ArchivePassword;"
                "ALTER TABLE Connections DROP COLUMN SecretsIn;"
                "ALTER TABLE Connections DROP COLUMN Tls;"
                "ALTER TABLE Connections DROP COLUMN TlsCa;"
                "ALTER TABLE Connections DROP COLUMN Encrypt;"
                "ALTER TABLE History DROP COLUMN ArchiveChecked;"
                "ALTER TABLE History DROP COLUMN Verified;"
                "ALTER TABLE History DROP COLUMN VerifyDetail;"
                "ALTER TABLE Connections DROP COLUMN KeepHourly;"
                "ALTER TABLE Connections DROP COLUMN KeepDaily;"
                "ALTER TABLE Connections DROP COLUMN KeepWeekly;"
                "ALTER TABLE Connections DROP COLUMN KeepMonthly;"
                "ALTER TABLE History DROP COLUMN Pruned;"
                "DROP TABLE OffsiteCopies; ALTER TABLE History DROP COLUMN Offsite;"
                "ALTER TABLE History DROP COLUMN OffsiteDetail; PRAGMA user_version=1;"
                "INSERT INTO Connections(Name) VALUES('kept');"
                "INSERT INTO History VALUES(1, 'kept', 'schedule', 0, 0, 'Complete',"
                " 'Backup complete', '', 10, 1, 5)");
  auto store = SettingsStore::Open(path);
  const ConnectionRow kept = *store->ReadConnection("kept");
  EXPECT_EQ(kept.verifyRestore, "");
  EXPECT_EQ(kept.archivePassword, "");
  EXPECT_FALSE(kept.secretsInKeyring);
  EXPECT_EQ(kept.server.tls, TlsSettings{});
  EXPECT_EQ((std::vector<std::int64_t>{kept.keepHourly, kept.keepDaily, kept.keepWeekly,
                                       kept.keepMonthly}),
            (std::vector<std::int64_t>{0, 7, 4, 6}));
  EXPECT_EQ(kept.encryptArchives, 0);
  EXPECT_TRUE(store->ClaimScheduledRun("kept", 1000));
  EXPECT_FALSE(store->ClaimScheduledRun("KEPT", 1000));
  EXPECT_EQ(store->WatchForStaleAlert("kept", 1000), 1000);

  HistoryRow checked;
  checked.connection = "kept";
  checked.archiveChecked = true;
  checked.verified = "differs";
  checked.verifyDetail = "line 9";
  checked.pruned = "kept-20240101T000000Z.zip\nkept-20240102T000000Z.zip";
  checked.offsite = "failed";
  checked.offsiteDetail = "not sent: kept-20240103T000000Z.zip\ndirectory not found";
  store->AppendHistory(checked);
  const std::vector<HistoryRow> rows = store->ReadHistory("kept", 5);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].archiveChecked, true);
  EXPECT_EQ(rows[0].verified, "differs");
  EXPECT_EQ(rows[0].verifyDetail, "line 9");
  EXPECT_EQ(rows[0].pruned, checked.pruned);
  EXPECT_EQ(rows[0].offsite, checked.offsite);
  EXPECT_EQ(rows[0].offsiteDetail, checked.offsiteDetail);
  EXPECT_EQ(rows[1].endText, "Backup complete");
  EXPECT_EQ(rows[1].offsite, "");

  // Off-site copies are kept per connection (letter case ignored) and remote.
  OffsiteCopyRow copy{
      "kept", "vault:db", "kept-20240103T000000Z.zip", 10, 1704240000, 77, "ab", true, false, true,
      0,      ""};
  store->WriteOffsiteCopy(copy);
  copy.remote = "other:db";
  store->WriteOffsiteCopy(copy);
  copy.sent = false;
  store->WriteOffsiteCopy(copy);
  const std::vector<OffsiteCopyRow> copies = store->ReadOffsiteCopies("KEPT", "other:db");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_FALSE(copies[0].sent);
  EXPECT_TRUE(copies[0].encrypted);
  EXPECT_EQ(copies[0].modified, 1704240000);
  store->DeleteOffsiteCopy(copy);
  EXPECT_EQ(store->ReadOffsiteCopies("kept", "").size(), 1u);
  EXPECT_EQ(rows[1].archiveChecked, std::nullopt);
  EXPECT_EQ(rows[1].verified, "");
  EXPECT_EQ(rows[1].pruned, "");
}

TEST(SettingsStoreTest, MissingValuesReadAsTheirDefaults) {
  ScratchFolder scratch;
  const std::string path = scratch.File("s.sqlite");
  SettingsStore::Open(path).reset();
  RunForeignSql(path,
                "INSERT INTO Connections(Name) VALUES('bare');"
                "INSERT INTO Connections(Name, Tls) VALUES('newer', 'verify-more')");
  auto store = SettingsStore::Open(path);
  std::optional<ConnectionRow> row = store->ReadConnection("bare");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->server.host, "Host Name");
  EXPECT_EQ(row->server.password, "");
  EXPECT_EQ(row->period, 1);
  EXPECT_EQ(row->server.tls, TlsSettings{});
  // A mode this program does not know never means less than the strictest.
  EXPECT_EQ(store->ReadConnection("newer")->server.tls.mode, TlsMode::VerifyIdentity);
  EXPECT_EQ(store->ReadText(settings::kSaveTo), "");
}

}  // namespace
}  // namespace vaultwick::test
