#include "shell/password_place.h"

namespace vaultwick {

PasswordPlaces SettlePasswordPlaces(SettingsStore& store) {
  PasswordPlaces places;
  places.keyringWanted = store.ReadText(settings::kPasswordsIn) != settings::kPasswordsInStore;
  places.keyring = store.KeyringNow();
  for (const std::string& name : store.ConnectionNames()) {
    if (std::optional<ConnectionRow> row = store.ReadConnection(name)) {
      places.connections.push_back({row->name, row->secretsInKeyring, row->secretsUnavailable});
    }
  }
  return places;
}

PasswordPlaces KeepPasswordsIn(SettingsStore& store, bool keyring) {
  store.WriteText(settings::kPasswordsIn,
                  keyring ? settings::kPasswordsInKeyring : settings::kPasswordsInStore);
  return SettlePasswordPlaces(store);
}

}  // namespace vaultwick
