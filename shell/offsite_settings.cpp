#include "shell/offsite_settings.h"

#include <filesystem>

#include "shell/connections.h"

namespace vaultwick {

OffsiteSettings LoadOffsiteSettings(SettingsStore& store) {
  OffsiteSettings settings;
  settings.remote = store.ReadText(settings::kOffsiteRemote);
  if (settings.IsSet()) {
    settings.configFile = store.ReadText(settings::kOffsiteConfig);
  }
  return settings;
}

std::optional<OffsiteSettings> SaveOffsiteSettings(SettingsStore& store, OffsiteSettings settings) {
  if (!settings.IsSet()) {
    settings.configFile.clear();
  }
  if (!settings.configFile.empty()) {
    std::error_code error;
    settings.configFile =
        std::filesystem::absolute(settings.configFile, error).lexically_normal().string();
    if (error || !std::filesystem::is_regular_file(settings.configFile, error)) {
      return std::nullopt;
    }
  }
  store.WriteTransaction([&] {
    store.WriteText(settings::kOffsiteRemote, settings.remote);
    store.WriteText(settings::kOffsiteConfig, settings.configFile);
  });
  return settings;
}

std::vector<std::string> UnencryptedConnections(SettingsStore& store) {
  std::vector<std::string> names;
  for (const std::string& name : ListConnections(store)) {
    std::optional<ConnectionRow> row = store.ReadConnection(name);
    if (row && row->encryptArchives == 0) {
      names.push_back(name);
    }
  }
  return names;
}

std::string UnencryptedWarning(const std::vector<std::string>& names) {
  if (names.empty()) {
    return {};
  }
  std::string text = "Archives sent off-site unencrypted: ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : ", ") + names[i];
  }
  return text;
}

RemoteOutcome CheckOffsite(const OffsiteSettings& settings, StopToken stop) {
  return RcloneRemote(settings.Rclone(), std::chrono::steady_clock::now() + kOffsiteCheckTimeLimit,
                      stop)
      .Check();
}

}  // namespace vaultwick
