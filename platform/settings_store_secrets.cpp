// Where the settings store keeps passwords: in the desktop keyring while
// the store says so (the default) and a keyring is open, else in the file.
//
// A connection's two passwords move together, under the store's write lock,
// so that two programs moving the same connection at once cannot interleave:
// into the keyring, both items are written and read back before the file's
// copies are cleared; back into the file, the file's copies are committed
// before the items are removed. Whatever fails between two steps leaves a
// second copy, never none.

#include <sqlite3.h>

#include <string>

#include "platform/settings_store.h"
#include "platform/settings_store_statement_internal.h"

namespace vaultwick {
namespace {

constexpr const char* kProduct = "Tessaly Vaultwick";

// The name as the store compares names: ASCII letters folded, as NOCASE does.
std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return folded;
}

std::string CannotRead(std::string_view connection, std::string_view why) {
  std::string text = "cannot read the passwords of connection ";
  text.append(connection).append(": ").append(why);
  return text;
}

// "UPDATE Connections SET "Password" = ?2, "ArchivePassword" = ?3, "SecretsIn" = ?4 WHERE "Name" =
// ?1"
std::string UpdateSecretsSql() {
  return "UPDATE Connections SET " + Quoted(settings::kPassword.storedName) + " = ?2, " +
         Quoted(settings::kArchivePassword.storedName) + " = ?3, " + Quoted(settings::kSecretsIn) +
         " = ?4 WHERE " + Quoted(settings::kConnectionName) + " = ?1";
}

}  // namespace

std::optional<ConnectionRow> SettingsStore::ReadConnection(std::string_view name) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  bool inKeyring = false;
  std::optional<ConnectionRow> row = ReadStoredConnection(name, &inKeyring);
  // Into the keyring only when it is open: asking costs a message, taking
  // the write lock for nothing would cost every other program a wait.
  if (row && keyring_ != nullptr && inKeyring != WantKeyring() &&
      (inKeyring || keyring_->State() == KeyringState::Open)) {
    SettleSecrets(row->name);
    row = ReadStoredConnection(name, &inKeyring);
  }
  if (row && inKeyring) {
    ReadKeyringSecrets(*row);
  }
  return row;
}

void SettingsStore::ReadKeyringSecrets(ConnectionRow& row) {
  row.secretsInKeyring = true;
  if (keyring_ == nullptr) {
    row.secretsUnavailable = CannotRead(
        row.name, "they are kept in the desktop keyring, which this program does not use");
    return;
  }
  try {
    std::optional<std::string> password =
        keyring_->Lookup(Item(row.name, SecretKind::ConnectionPassword));
    std::optional<std::string> archivePassword =
        keyring_->Lookup(Item(row.name, SecretKind::ArchivePassword));
    if (!password || !archivePassword) {
      row.secretsUnavailable = CannotRead(row.name, "the desktop keyring no longer holds them");
      return;
    }
    row.server.password = std::move(*password);
    row.archivePassword = std::move(*archivePassword);
  } catch (const KeyringError& error) {
    row.secretsUnavailable = CannotRead(row.name, error.what());
  }
}

void SettingsStore::SettleSecrets(std::string_view name) {
  bool movedIntoKeyring = false;
  WriteTransaction([&] {
    bool inKeyring = false;
    std::optional<ConnectionRow> row = ReadStoredConnection(name, &inKeyring);
    if (!row || inKeyring == WantKeyring()) {
      return;
    }
    StoreStatement update(db_, path_, UpdateSecretsSql());
    update.Bind(1, row->name);
    if (inKeyring) {
      ReadKeyringSecrets(*row);
      if (!row->secretsUnavailable.empty()) {
        return;
      }
      update.Bind(2, row->server.password).Bind(3, row->archivePassword);
      forget_.push_back(row->name);
    } else {
      if (keyring_->State() != KeyringState::Open || !StoreInKeyring(*row)) {
        return;
      }
      update.Bind(2, std::string_view()).Bind(3, std::string_view());
      update.Bind(4, settings::kSecretsInKeyring);
      movedIntoKeyring = true;
    }
    update.Step();
  });
  if (movedIntoKeyring && transactionDepth_ == 0) {
    // The log still holds the page as it was, passwords and all; copy it into
    // the file (whose freed space secure_delete has cleared) and empty it. A
    // reader of another program may keep it from going now; it goes later.
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }
}

KeyringState SettingsStore::KeyringNow() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return keyring_ == nullptr ? KeyringState::Absent : keyring_->State();
}

bool SettingsStore::WantKeyring() {
  return ReadText(settings::kPasswordsIn) != settings::kPasswordsInStore;
}

KeyringItem SettingsStore::Item(std::string_view connection, SecretKind kind) const {
  return KeyringItem{keyringStore_, FoldedName(connection), kind};
}

bool SettingsStore::StoreInKeyring(const ConnectionRow& row) {
  struct Secret {
    SecretKind kind;
    const std::string& value;
    const char* label;
  };
  const Secret secrets[] = {
      {SecretKind::ConnectionPassword, row.server.password, "password of connection "},
      {SecretKind::ArchivePassword, row.archivePassword, "archive password of connection "},
  };
  try {
    for (const Secret& secret : secrets) {
      const KeyringItem item = Item(row.name, secret.kind);
      keyring_->Store(item, std::string(kProduct) + ": " + secret.label + row.name, secret.value);
      // Confirmed only once it reads back as written.
      if (keyring_->Lookup(item) != secret.value) {
        forget_.push_back(row.name);
        return false;
      }
    }
    return true;
  } catch (const KeyringError&) {
    forget_.push_back(row.name);
    return false;
  }
}

void SettingsStore::ForgetReleasedItems() {
  if (keyring_ == nullptr || forget_.empty()) {
    forget_.clear();
    return;
  }
  std::vector<std::string> names;
  names.swap(forget_);
  for (const std::string& name : names) {
    try {
      WriteTransaction([&] {
        bool inKeyring = false;
        if (ReadStoredConnection(name, &inKeyring) && inKeyring) {
          return;
        }
        keyring_->Remove(Item(name, SecretKind::ConnectionPassword));
        keyring_->Remove(Item(name, SecretKind::ArchivePassword));
      });
    } catch (const std::exception&) {
      // An item left behind holds a password nobody reads; the change it
      // belongs to is already made, and a later move overwrites the item.
    }
  }
}

}  // namespace vaultwick
