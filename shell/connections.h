#pragma once

// The stored connections and the operations both front ends perform on them:
// list, add, load, remove and apply changes. Every operation goes to the
// settings store at once; nothing is cached. Store failures throw
// SettingsStoreError (its text names the file); a refused change is a result.
//
//   main window action      operation
//   FillConnectionList      ListConnections
//   OnAdd                   AddConnection
//   OnSelectConnection      LoadConnection     (nullopt: kTextErrorAccessingStore)
//   OnRemove                RemoveConnection
//   OnApplyChanges          ApplyConnectionChanges

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_login.h"
#include "platform/settings_store.h"
#include "shell/keep_policy.h"

namespace vaultwick {

// One stored connection as a reader sees it: the schedule normalised.
struct ConnectionProfile {
  std::string name;
  ServerLogin server;
  int startHour = 0;  // 0 to 23
  // 1 to 24 for every value this program stores. A value written by other
  // means can normalise to 0 (never due) or below 0 (due as its absolute value).
  int periodHours = 1;
  bool operator==(const ConnectionProfile&) const = default;
};

// The periods offered, in hours; each divides 24.
inline constexpr int kPeriodChoices[] = {1, 2, 3, 4, 6, 8, 12, 24};

inline constexpr std::string_view kNewConnectionName = "New Connection";
inline constexpr const char* kTextErrorAccessingStore = "Error accessing registry";
inline constexpr const char* kTextConnectionExists = "Connection with such name already exists";
inline constexpr const char* kTextInvalidConnectionName =
    "Invalid connection name: it must be usable as a file name and one line of text";
inline constexpr const char* kTextInvalidStartHour = "The start hour must be between 0 and 23";
inline constexpr const char* kTextInvalidPeriod =
    "The period must be 1, 2, 3, 4, 6, 8, 12 or 24 hours";
inline constexpr const char* kTextInvalidScratchDatabase =
    "The scratch database of a test restore must be named, and must not be the database "
    "backed up";
inline constexpr const char* kTextEmptyArchivePassword = "The archive password must not be empty";
inline constexpr const char* kTextInvalidAlertChannel =
    "The alert webhook must be an http:// or https:// URL, and each header must read "
    "'Name: value'";
inline constexpr const char* kTextMissingRcloneConfig =
    "rclone's configuration file for the off-site copies does not exist";

// A schedule as stored reads from the low byte of the value taken as a signed
// 8-bit number b: start = b % 24 (brought into 0 to 23), period =
// ((b - 1) % 24) + 1, with C's remainder. Values this program stores come
// back unchanged; 30 reads as start 6, 25 as period 1, 48 as period 24.
int NormaliseStartHour(std::int64_t stored);
int NormalisePeriod(std::int64_t stored);

// True when a schedule starts a run in `hour`: (hour - start) is a whole
// multiple of the period. A period of 0 is never due; a negative one acts as
// its absolute value.
bool IsDueAt(int hour, int startHour, int periodHours);

enum class ChangeResult {
  Done,
  NameExists,
  InvalidName,
  InvalidStartHour,
  InvalidPeriod,
  InvalidScratchDatabase,
  InvalidKeepCount,
  EmptyArchivePassword,
  InvalidAlertChannel,
  MissingRcloneConfig,
};
// The message for a refused change; empty for Done.
const char* ChangeResultText(ChangeResult result);

// A name the job takes (IsValidConnectionName): it can stem the job's file
// names and stays one line in a list.
bool IsUsableConnectionName(std::string_view name);

// Whether two names are the same connection: letter case is ignored, as the
// store ignores it.
bool SameConnectionName(std::string_view a, std::string_view b);

// Stored names, sorted without regard to letter case.
std::vector<std::string> ListConnections(SettingsStore& store);

// Adds a connection with the default values under the first free name of
// "New Connection", "New Connection 0", "New Connection 1", ... (letter case
// ignored when comparing) and returns that name.
std::string AddConnection(SettingsStore& store);

// Adds a connection with the default values under `name`.
ChangeResult AddConnectionNamed(SettingsStore& store, std::string_view name);

// The connection of that name (letter case ignored), or nullopt when there is none.
std::optional<ConnectionProfile> LoadConnection(SettingsStore& store, std::string_view name);

// True when there was one to remove.
bool RemoveConnection(SettingsStore& store, std::string_view name);

// Replaces the connection `oldName` with `changed` (which may carry a new
// name) as one transaction: a refusal or a failure leaves the store as it
// was. A new name that another connection has (letter case ignored) is
// refused; a change of letter case only is not. When `oldName` is not
// stored (removed meanwhile), `changed` is stored as a new connection.
// Its test restore, TLS settings, keep policy and archive encryption, which no
// main window field shows, stay with it (SetVerifyRestore, SetConnectionTls,
// SetKeepPolicy and SetArchiveEncryption change them); a database that is that
// test restore's scratch database is refused.
ChangeResult ApplyConnectionChanges(SettingsStore& store, std::string_view oldName,
                                    const ConnectionProfile& changed);

// A stored connection as work takes it (a backup, a restore, a test
// restore, a command that shows it).
struct StoredConnection {
  ConnectionProfile profile;
  // The scratch database into which each new archive of the connection is
  // test-restored, dumped again and compared with the archived dump; empty
  // when it has none (the default).
  std::string verifyRestore;
  std::string saveTo;  // the shared target folder; empty when none was saved
  // Whether new archives are encrypted under archivePassword. The password
  // outlives encryption turned off: the archives made with it need it.
  bool encryptArchives = false;
  std::string archivePassword;
  // Why the passwords could not be read (a locked keyring); empty when they were.
  std::string passwordsUnavailable;
};

// The stored connection `name` (letter case ignored), or nullopt when there
// is none.
std::optional<StoredConnection> ReadStoredConnection(SettingsStore& store, std::string_view name);

// ReadStoredConnection for work that goes on when the store cannot say (a
// job): the connection as read, or why it could not be read.
struct StoredConnectionRead {
  std::optional<StoredConnection> connection;  // nullopt: none stored, or not read
  std::string error;                           // the store's error; empty when it was read
};
StoredConnectionRead TryReadStoredConnection(SettingsStore& store, std::string_view name);

// Turns the test restore of the connection `name` on, into `scratchDatabase`,
// or off when that is nullopt. A scratch database that is empty or the
// database the connection backs up (letter case ignored) is refused: it is
// dropped after every test restore. nullopt when there is no such connection.
std::optional<ChangeResult> SetVerifyRestore(SettingsStore& store, std::string_view name,
                                             const std::optional<std::string>& scratchDatabase);

// Sets how the connection `name` (letter case ignored) asks for TLS. False
// when there is no such connection.
bool SetConnectionTls(SettingsStore& store, std::string_view name, const TlsSettings& tls);

// How many restore points of each kind the connection keeps. A stored count
// outside 0 to kMaxKeepCount (written by other means) reads as that kind's
// default. nullopt when there is no such connection.
std::optional<KeepPolicy> LoadKeepPolicy(SettingsStore& store, std::string_view name);

// Stores the keep policy of the connection `name`; a count outside 0 to
// kMaxKeepCount is refused (InvalidKeepCount). nullopt when there is no
// such connection.
std::optional<ChangeResult> SetKeepPolicy(SettingsStore& store, std::string_view name,
                                          const KeepPolicy& policy);

// Turns encryption of the new archives of the connection `name` on or off
// (nullopt: leaves it) and, when `password` is given, makes it the archive
// password; an empty one is refused. Turning encryption on with no password
// stored makes one (GenerateArchivePassword). nullopt when there is no such
// connection.
std::optional<ChangeResult> SetArchiveEncryption(SettingsStore& store, std::string_view name,
                                                 std::optional<bool> encrypt,
                                                 const std::optional<std::string>& password);

}  // namespace vaultwick
