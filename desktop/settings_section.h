#pragma once

// One subject of the settings window: a group of controls that loads the
// connection's stored values and saves what it shows.

#include <QGroupBox>
#include <string>

#include "platform/settings_store.h"
#include "shell/connections.h"

namespace vaultwick {

class SettingsSection : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;
  // Shows the stored values of the connection `name`.
  virtual void Load(SettingsStore& store, const std::string& name) = 0;
  // Stores what the controls show; anything but Done refuses the whole save.
  virtual ChangeResult Save(SettingsStore& store, const std::string& name) = 0;
  // Keeps what the section keeps outside the store, once every section's
  // store part is kept; what went wrong, else empty.
  virtual QString SaveOutsideStore() { return {}; }
};

}  // namespace vaultwick
