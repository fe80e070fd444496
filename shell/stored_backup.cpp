#include "shell/stored_backup.h"

#include <utility>

namespace vaultwick {

std::unique_ptr<BackupRequest> BackupRequestFor(const std::string& name,
                                                const ConnectionProfile& profile,
                                                std::string saveTo) {
  auto request = std::make_unique<BackupRequest>();
  request->name = name;
  request->server = profile.server;
  request->saveTo = std::move(saveTo);
  return request;
}

}  // namespace vaultwick
