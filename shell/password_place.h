#pragma once

// Where the connections' passwords are kept: the desktop keyring wherever one
// is open (the default), or always the settings store's file.

#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace vaultwick {

struct ConnectionPasswordPlace {
  std::string name;
  bool inKeyring = false;
  std::string unavailable;  // why its passwords cannot be read now; empty when they can
};

struct PasswordPlaces {
  bool keyringWanted = true;  // the store keeps passwords in the keyring where it can
  KeyringState keyring = KeyringState::Absent;
  std::vector<ConnectionPasswordPlace> connections;
};

// Reads every connection, which first moves its passwords to where the store
// keeps them now when both places can be reached, and says where each is.
PasswordPlaces SettlePasswordPlaces(SettingsStore& store);

// Keeps passwords in the keyring (where one is open) or always in the file,
// and moves every connection's passwords there as far as it can.
PasswordPlaces KeepPasswordsIn(SettingsStore& store, bool keyring);

}  // namespace vaultwick
