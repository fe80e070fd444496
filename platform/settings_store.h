#pragma once

// The settings store: one SQLite file that keeps the connections, the target
// folder and the history of jobs, shared at once by the desktop program, the
// commands and the scheduler (write-ahead log, busy timeout). It holds
// passwords, so a new file is made 0600 in a folder made 0700.
//
// A file that is not a settings store, is damaged, or was made by a newer
// version of the program is refused with an error naming it; it is never
// changed, overwritten or deleted.
//
// Values are kept as given; what they mean (normalising a schedule, default
// names, checks) is the shell's business. A store opened with a keyring keeps
// each connection's passwords there while it can (the row holds only a
// marker), else in the file; see ReadConnection. Every call is atomic with respect
// to other threads of the process; a call fails with SettingsStoreError when
// the file cannot be used (unreadable, damaged, locked past the busy timeout,
// disk full), and its what() names the file.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_login.h"
#include "platform/keyring.h"
#include "platform/settings_store_error.h"
#include "platform/settings_store_layout.h"

struct sqlite3;

namespace vaultwick {

// $XDG_CONFIG_HOME/tessaly-vaultwick/settings.sqlite, or the same under
// ~/.config when XDG_CONFIG_HOME is unset or not absolute.
std::string DefaultSettingsStorePath();

// The store a program uses: `explicitPath` (from --store) when not empty,
// else VAULTWICK_STORE when set and not empty, else the default.
std::string ChooseSettingsStorePath(std::string_view explicitPath);

struct ConnectionRow {
  std::string name;
  ServerLogin server{std::string(settings::kHost.defaultText),
                     std::string(settings::kLogin.defaultText),
                     std::string(settings::kPassword.defaultText),
                     std::string(settings::kDatabase.defaultText),
                     {},
                     {}};
  std::int64_t start = settings::kStart.defaultInteger;
  std::int64_t period = settings::kPeriod.defaultInteger;
  std::string verifyRestore{settings::kVerifyRestore.defaultText};
  std::int64_t keepHourly = settings::kKeepHourly.defaultInteger;
  std::int64_t keepDaily = settings::kKeepDaily.defaultInteger;
  std::int64_t keepWeekly = settings::kKeepWeekly.defaultInteger;
  std::int64_t keepMonthly = settings::kKeepMonthly.defaultInteger;
  // The key of the connection's encrypted archives; empty when it has none.
  std::string archivePassword;
  // 1 when new archives are encrypted under archivePassword.
  std::int64_t encryptArchives = settings::kEncrypt.defaultInteger;
  // Filled by ReadConnection, ignored by InsertConnection: whether the
  // passwords are kept in the desktop keyring, and why they could not be
  // read (empty when they were; the passwords are then empty).
  bool secretsInKeyring = false;
  std::string secretsUnavailable;
};

// One job, as the history keeps it. Times are seconds since 1970.
struct HistoryRow {
  std::int64_t id = 0;  // given by the store; higher is newer
  std::string connection;
  std::string startedBy;
  std::int64_t startedAt = 0;
  std::int64_t endedAt = 0;
  std::string result;
  std::string endText;
  std::string cause;
  std::int64_t archiveSize = 0;
  std::int64_t rows = 0;
  std::int64_t durationMs = 0;
  // Whether the archive the job made was read back and found as written
  // before it was placed; nullopt in rows older than this column.
  std::optional<bool> archiveChecked;
  // The test restore of the placed archive: "verified", "differs" or
  // "failed"; empty when none ran. The detail says where the dumps first
  // differ, or why the test restore failed.
  std::string verified;
  std::string verifyDetail;
  // The restore points the run's prune deleted, one file name per line;
  // empty when it deleted none (or did not prune).
  std::string pruned;
  // The run's off-site step: "copied", "failed", or empty when it had none.
  // The detail names the files sent and deleted, or says what failed (in
  // rclone's words, its last error line).
  std::string offsite;
  std::string offsiteDetail;
};

// One archive of a connection that is, or is to be, copied to a remote: a
// row of OffsiteCopies. Only files named here are ever deleted there.
struct OffsiteCopyRow {
  std::string connection;
  std::string remote;  // the remote it went to, in rclone's notation
  std::string file;    // its name there, in REMOTE/<connection>/
  // The local archive: its size and modification time (seconds since 1970),
  // which the link or rename that makes it a restore point keeps.
  std::int64_t size = 0;
  std::int64_t modified = 0;
  // Its inode number, which they keep too: two archives placed within one
  // second with one size are still told apart.
  std::int64_t inode = 0;
  // Lower-case hex digits of the hash it was proven by; empty until sent.
  std::string hash;
  bool encrypted = false;  // the archive is encrypted
  bool verified = false;   // its test restore verified
  bool sent = false;       // copied and proven; else waiting for a run to send it
  // When its copy was last read back in full (seconds since 1970); 0: never.
  std::int64_t readBackAt = 0;
  std::string error;  // why the last attempt failed; empty when it did not
};

class SettingsStore {
 public:
  // The schema version this program writes (kept in the file's user_version).
  static constexpr int kSchemaVersion = 9;
  // The history keeps this many of the newest rows.
  static constexpr int kHistoryRowsKept = 10000;
  // How long a call waits for another program's write to end.
  static constexpr int kBusyTimeoutMs = 5000;

  // Opens the store at `path`, making the file (and its folder) when missing.
  // Without a keyring, passwords are kept in the file, and those of
  // connections kept in a keyring cannot be read.
  static std::unique_ptr<SettingsStore> Open(const std::string& path,
                                             std::unique_ptr<Keyring> keyring = nullptr);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  const std::string& path() const { return path_; }

  // Runs `body` as one write transaction: other programs see all of it or
  // nothing, and if `body` throws nothing of it is kept. The store's other
  // calls may be used inside; nested transactions join the outer one.
  void WriteTransaction(const std::function<void()>& body);

  // Connection names as stored, sorted without regard to letter case.
  std::vector<std::string> ConnectionNames();
  // Name lookups ignore letter case. A missing value reads as its default.
  // The passwords come from where they are kept; they are moved first to
  // where the store keeps passwords now (settings::kPasswordsIn) when they
  // are elsewhere and both places can be reached. A move never loses them:
  // the copy it leaves is removed only once the other is confirmed written.
  std::optional<ConnectionRow> ReadConnection(std::string_view name);
  // False when a connection of that name (letter case ignored) exists. The
  // passwords go into the keyring when the store keeps passwords there and
  // the keyring is open, else into the file. A row whose passwords could
  // not be read (secretsUnavailable) is refused with SettingsStoreError,
  // so that a change never replaces passwords it could not see.
  bool InsertConnection(const ConnectionRow& row);
  // True when there was one to delete. Its keyring items go once the
  // outermost transaction has ended, unless a connection of that name then
  // keeps its passwords in the keyring again.
  bool DeleteConnection(std::string_view name);

  // The desktop keyring this store was opened with, as it is now: Absent
  // when it was opened without one.
  KeyringState KeyringNow();

  // A program-wide text value; its default when missing.
  std::string ReadText(const SettingDefinition& setting);
  void WriteText(const SettingDefinition& setting, std::string_view value);

  // Claims the scheduled run of `connection` (letter case ignored) in `hour`
  // (counted in hours from some fixed start). True for the first claim, in
  // whatever process; false for every later one. Claims two days older go.
  bool ClaimScheduledRun(std::string_view connection, std::int64_t hour);

  // The moment (seconds since 1970) the stale-backup alerts first looked at
  // `connection`: `now` on the first call, the same on every later one until
  // ForgetStaleAlert.
  std::int64_t WatchForStaleAlert(std::string_view connection, std::int64_t now);
  // Claims a stale-backup alert of `connection` at `now`: true, in whatever
  // process, when none was claimed since its watch began or the last was
  // claimed `every` seconds ago or more.
  bool ClaimStaleAlert(std::string_view connection, std::int64_t now, std::int64_t every);
  // The connection is no longer stale (or gone): the next staleness starts afresh.
  void ForgetStaleAlert(std::string_view connection);

  void AppendHistory(const HistoryRow& row);
  // Newest first; all connections when `connection` is empty (letter case ignored).
  std::vector<HistoryRow> ReadHistory(std::string_view connection, int limit);

  // The off-site copies of `connection` (letter case ignored) on `remote`,
  // by file name; those of every remote when `remote` is empty.
  std::vector<OffsiteCopyRow> ReadOffsiteCopies(std::string_view connection,
                                                std::string_view remote);
  // Inserts the row, or replaces the one of its connection, remote and file.
  void WriteOffsiteCopy(const OffsiteCopyRow& row);
  void DeleteOffsiteCopy(const OffsiteCopyRow& row);

 private:
  SettingsStore(std::string path, sqlite3* db, std::unique_ptr<Keyring> keyring)
      : path_(std::move(path)), db_(db), keyring_(std::move(keyring)) {}
  void Initialise();
  [[noreturn]] void Fail(std::string_view what) const;
  void Execute(const char* sql);

  // The row as the file holds it; `inKeyring` says whether its passwords are in the keyring.
  std::optional<ConnectionRow> ReadStoredConnection(std::string_view name, bool* inKeyring);
  // The passwords of a row kept in the keyring, or why they cannot be read.
  void ReadKeyringSecrets(ConnectionRow& row);
  // Moves the passwords of connection `name` to where the store keeps them
  // now, when they are elsewhere and both places can be reached.
  void SettleSecrets(std::string_view name);
  bool WantKeyring();
  KeyringItem Item(std::string_view connection, SecretKind kind) const;
  // Keeps both passwords of `row` in the keyring; false (and nothing to
  // rely on there) when the keyring did not take them.
  bool StoreInKeyring(const ConnectionRow& row);
  // Removes the keyring items of the connections named in forget_ that no
  // longer keep their passwords there; called when a write transaction ended.
  void ForgetReleasedItems();

  std::string path_;
  sqlite3* db_;
  std::unique_ptr<Keyring> keyring_;
  std::string keyringStore_;  // path_ as the keyring's items name it
  std::vector<std::string> forget_;
  std::recursive_mutex mutex_;
  int transactionDepth_ = 0;
};

// The store the programs use: at ChooseSettingsStorePath(explicitPath), with
// passwords in the desktop keyring of the user's session where one is open.
std::unique_ptr<SettingsStore> OpenUserSettingsStore(std::string_view explicitPath);

}  // namespace vaultwick
