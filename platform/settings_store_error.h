#pragma once

// The one error every use of the settings store may end in; its what() names
// the store's file.

#include <stdexcept>
#include <string>
#include <string_view>

namespace vaultwick {

class SettingsStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "settings store PATH: WHAT".
inline SettingsStoreError StoreError(std::string_view path, std::string_view what) {
  std::string message = "settings store ";
  message.append(path).append(": ").append(what);
  return SettingsStoreError(message);
}

}  // namespace vaultwick
