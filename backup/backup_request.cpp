#include "backup/backup_request.h"

#include <algorithm>
#include <climits>

namespace vaultwick {

namespace {
// Both file names the job makes from a name add this many bytes to it.
constexpr std::size_t kExtensionLength = 4;  // ".zip", ".sql"
}  // namespace

bool IsValidConnectionName(std::string_view name) {
  const bool forbidden = std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '/' || c == '\\';
  });
  return !name.empty() && name != "." && name != ".." &&
         name.size() + kExtensionLength <= NAME_MAX && !forbidden;
}

bool MarkJobFinished(BackupRequest& request) {
  std::lock_guard<std::mutex> lock(request.handOverLock);
  request.jobFinished = 1;
  return request.windowClosed.StopRequested();
}

bool MarkWindowClosed(BackupRequest& request) {
  std::lock_guard<std::mutex> lock(request.handOverLock);
  request.windowClosed.RequestStop();
  return request.jobFinished != 0;
}

bool CloseProgressWindow(BackupRequest* request) {
  if (!MarkWindowClosed(*request)) {
    return false;
  }
  delete request;
  return true;
}

}  // namespace vaultwick
