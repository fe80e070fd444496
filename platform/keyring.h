#pragma once

// The desktop keyring (a Secret Service: GNOME Keyring, KDE Wallet) as the
// settings store uses it: one item per connection and kind of password,
// found by attributes that name the product, the store file and the
// connection. An interface, so that tests can make a keyring fail on purpose.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vaultwick {

enum class SecretKind { ConnectionPassword, ArchivePassword };

struct KeyringItem {
  std::string store;       // the settings store's file: absolute, without links
  std::string connection;  // the connection's name, letter case folded as the store folds it
  SecretKind kind;
};

enum class KeyringState {
  Absent,  // no Secret Service answers, or it has no keyring to keep items in
  Locked,  // it answers, but its keyring is locked
  Open,    // items can be kept and read without asking anyone
};

// A keyring that could not do what was asked; what() says why in words for
// the user (a locked keyring says that it is locked).
class KeyringError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kTextKeyringLocked =
    "the desktop keyring is locked (it opens when you log in to the desktop)";
inline constexpr const char* kTextNoKeyring = "no desktop keyring is running";

class Keyring {
 public:
  virtual ~Keyring() = default;

  virtual KeyringState State() = 0;
  // Keeps `secret` under `item`, replacing what was there, and returns once
  // the keyring has confirmed the write. Throws KeyringError.
  virtual void Store(const KeyringItem& item, std::string_view label, std::string_view secret) = 0;
  // The secret kept under `item`, or nullopt when the keyring holds none.
  // Throws KeyringError.
  virtual std::optional<std::string> Lookup(const KeyringItem& item) = 0;
  // Removes the item; nothing when there is none. Throws KeyringError.
  virtual void Remove(const KeyringItem& item) = 0;
};

// The Secret Service of the user's session, through libsecret. It never
// prompts: a locked keyring is reported as locked, so that a program without
// a desktop (the scheduler as a service) fails with that reason instead of
// waiting for a window nobody sees.
std::unique_ptr<Keyring> OpenDesktopKeyring();

}  // namespace vaultwick
