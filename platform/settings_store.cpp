#include "platform/settings_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/settings_store_statement_internal.h"

namespace vaultwick {
namespace {

// Marks a SQLite file as a settings store (PRAGMA application_id), so that
// another program's database is never taken for an empty store.
constexpr std::int64_t kApplicationId = 0x5657534B;  // "VWSK"

// Migration steps: step i turns a store of schema version i into one of
// version i + 1. A new store runs them all.
constexpr const char* kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE Connections("
    " \"Name\" TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
    " \"Host\" TEXT, \"Login\" TEXT, \"Password\" TEXT, \"Database\" TEXT,"
    " \"Start\" INTEGER, \"Period\" INTEGER);"
    "CREATE TABLE Settings(Name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, Value);"
    "CREATE TABLE History("
    " Id INTEGER PRIMARY KEY, Connection TEXT NOT NULL, StartedBy TEXT NOT NULL,"
    " StartedAt INTEGER NOT NULL, EndedAt INTEGER NOT NULL, Result TEXT NOT NULL,"
    " EndText TEXT NOT NULL, Cause TEXT NOT NULL, ArchiveSize INTEGER NOT NULL,"
    " Rows INTEGER NOT NULL, DurationMs INTEGER NOT NULL);"
    "CREATE INDEX HistoryByConnection ON History(Connection COLLATE NOCASE, Id);",
    // 1 -> 2
    "CREATE TABLE ScheduledRuns("
    " Connection TEXT NOT NULL COLLATE NOCASE, Hour INTEGER NOT NULL,"
    " PRIMARY KEY(Connection, Hour));",
    // 2 -> 3
    "ALTER TABLE Connections ADD COLUMN \"VerifyRestore\" TEXT;"
    "ALTER TABLE History ADD COLUMN ArchiveChecked INTEGER;"
    "ALTER TABLE History ADD COLUMN Verified TEXT;"
    "ALTER TABLE History ADD COLUMN VerifyDetail TEXT;",
    // 3 -> 4
    ("ALTER TABLE Connections ADD COLUMN \"ArchivePassword\" TEXT;"
     "ALTER TABLE Connections ADD COLUMN \"SecretsIn\" TEXT;"),
    // 4 -> 5
    ("ALTER TABLE Connections ADD COLUMN \"Tls\" TEXT;"
     "ALTER TABLE Connections ADD COLUMN \"TlsCa\" TEXT;"),
    // 5 -> 6: a connection's keep policy (missing values read as the
    // defaults) and what each run's prune deleted.
    ("ALTER TABLE Connections ADD COLUMN \"KeepHourly\" INTEGER;"
     "ALTER TABLE Connections ADD COLUMN \"KeepDaily\" INTEGER;"
     "ALTER TABLE Connections ADD COLUMN \"KeepWeekly\" INTEGER;"
     "ALTER TABLE Connections ADD COLUMN \"KeepMonthly\" INTEGER;"
     "ALTER TABLE History ADD COLUMN Pruned TEXT;"),
    // 6 -> 7
    "ALTER TABLE Connections ADD COLUMN \"Encrypt\" INTEGER;",
    // 7 -> 8: what the stale-backup alerts have told.
    ("CREATE TABLE StaleAlerts("
     " Connection TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, WatchedSince INTEGER NOT NULL,"
     " SentAt INTEGER);"),
    // 8 -> 9: the off-site copies of each connection's archives, and what
    // each run's off-site step did.
    ("CREATE TABLE OffsiteCopies("
     " Connection TEXT NOT NULL COLLATE NOCASE, Remote TEXT NOT NULL, File TEXT NOT NULL,"
     " Size INTEGER NOT NULL, Modified INTEGER NOT NULL, Inode INTEGER NOT NULL,"
     " Hash TEXT NOT NULL,"
     " Encrypted INTEGER NOT NULL, Verified INTEGER NOT NULL, Sent INTEGER NOT NULL,"
     " ReadBackAt INTEGER NOT NULL, Error TEXT NOT NULL,"
     " PRIMARY KEY(Connection, Remote, File));"
     "ALTER TABLE History ADD COLUMN Offsite TEXT;"
     "ALTER TABLE History ADD COLUMN OffsiteDetail TEXT;"),
};
static_assert(std::size(kMigrations) == SettingsStore::kSchemaVersion);

// Makes `folder` and any missing folder above it with mode 0700. Folders that
// exist are left as they are. Returns 0 or the errno of the step that failed.
int MakeFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  }
  if (errno != ENOENT) {
    return errno;
  }
  const std::string parent = FolderOf(folder);
  if (parent != folder) {
    if (int error = MakeFolders(parent); error != 0) {
      return error;
    }
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return errno;
  }
  return 0;
}

std::string Fallback(const char* variable, const std::string& otherwise) {
  const char* value = std::getenv(variable);
  return (value != nullptr && value[0] != '\0') ? std::string(value) : otherwise;
}

}  // namespace

std::string DefaultSettingsStorePath() {
  std::string configHome = Fallback("XDG_CONFIG_HOME", "");
  if (configHome.empty() || configHome[0] != '/') {
    const std::string home = Fallback("HOME", "");
    if (home.empty()) {
      throw SettingsStoreError(
          "settings store: neither XDG_CONFIG_HOME nor HOME is set; name the store with --store "
          "or VAULTWICK_STORE");
    }
    configHome = home + "/.config";
  }
  return configHome + "/tessaly-vaultwick/settings.sqlite";
}

std::string ChooseSettingsStorePath(std::string_view explicitPath) {
  if (!explicitPath.empty()) {
    return std::string(explicitPath);
  }
  const std::string fromEnvironment = Fallback("VAULTWICK_STORE", "");
  return fromEnvironment.empty() ? DefaultSettingsStorePath() : fromEnvironment;
}

std::unique_ptr<SettingsStore> OpenUserSettingsStore(std::string_view explicitPath) {
  return SettingsStore::Open(ChooseSettingsStorePath(explicitPath), OpenDesktopKeyring());
}

std::unique_ptr<SettingsStore> SettingsStore::Open(const std::string& path,
                                                   std::unique_ptr<Keyring> keyring) {
  const std::string prefix = "settings store " + path + ": ";
  if (path.empty()) {
    throw SettingsStoreError("settings store: no file named");
  }
  if (int error = MakeFolders(FolderOf(path)); error != 0) {
    throw SettingsStoreError(prefix + "cannot make its folder: " + std::strerror(error));
  }
  // SQLite would make a new file readable by everyone; the store holds passwords.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
  } else if (errno != EEXIST) {
    throw SettingsStoreError(prefix + "cannot create it: " + std::strerror(errno));
  }
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (code != SQLITE_OK) {
    std::string why = StoreStatement::Describe(db, code);
    sqlite3_close(db);
    throw SettingsStoreError(prefix + why);
  }
  std::unique_ptr<SettingsStore> store(new SettingsStore(path, db, std::move(keyring)));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  store->Initialise();
  // The keyring's items name the file, not the way this program was told of it.
  if (char* real = ::realpath(path.c_str(), nullptr); real != nullptr) {
    store->keyringStore_ = real;
    std::free(real);
  } else {
    store->keyringStore_ = path;
  }
  return store;
}

SettingsStore::~SettingsStore() {
  sqlite3_close(db_);
}

void SettingsStore::Fail(std::string_view what) const {
  throw StoreError(path_, what);
}

void SettingsStore::Execute(const char* sql) {
  int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    Fail(StoreStatement::Describe(db_, code));
  }
}

void SettingsStore::Initialise() {
  auto readPragma = [this](const char* sql) {
    StoreStatement pragma(db_, path_, sql);
    pragma.Step();
    return pragma.Integer(0).value_or(0);
  };
  auto check = [&] {
    const std::int64_t applicationId = readPragma("PRAGMA application_id");
    const std::int64_t tables = readPragma("SELECT count(*) FROM sqlite_schema");
    const std::int64_t version = readPragma("PRAGMA user_version");
    if (applicationId != kApplicationId && (applicationId != 0 || tables != 0)) {
      Fail("not a settings store (left as it is)");
    }
    if (version > kSchemaVersion) {
      Fail("made by a newer version of this program (schema " + std::to_string(version) +
           ", this program knows " + std::to_string(kSchemaVersion) + "); left as it is");
    }
    return version;
  };
  // Look before writing anything: a file that is not ours is never touched.
  const std::int64_t version = check();
  Execute("PRAGMA journal_mode=WAL");
  // A password moved to the keyring or replaced must not stay readable in
  // the file's free space.
  Execute("PRAGMA secure_delete=ON");
  if (version == kSchemaVersion) {
    return;
  }
  // Another program may be making or migrating the same store: look again
  // under the write lock.
  WriteTransaction([&] {
    for (std::int64_t step = check(); step < kSchemaVersion; ++step) {
      Execute(kMigrations[step]);
    }
    Execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
    Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  });
}

void SettingsStore::WriteTransaction(const std::function<void()>& body) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (transactionDepth_ > 0) {
    ++transactionDepth_;
    try {
      body();
    } catch (...) {
      --transactionDepth_;
      throw;
    }
    --transactionDepth_;
    return;
  }
  // IMMEDIATE takes the write lock at once, so a reader that later wants to
  // write can never be refused without the busy timeout being honoured.
  Execute("BEGIN IMMEDIATE");
  transactionDepth_ = 1;
  try {
    body();
    transactionDepth_ = 0;
    Execute("COMMIT");
  } catch (...) {
    transactionDepth_ = 0;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    // Items of rows the rollback brought back stay, as do those that were
    // already there: a forgotten item costs nothing, a lost one a password.
    forget_.clear();
    throw;
  }
  ForgetReleasedItems();
}

}  // namespace vaultwick
