#include "backup/backup_request.h"

#include <climits>

namespace vaultwick {

namespace {
// Both file names the job makes from a name add this many bytes to it.
constexpr std::size_t kExtensionLength = 4;  // ".zip", ".sql"
}  // namespace

bool IsValidConnectionName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.size() + kExtensionLength <= NAME_MAX &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
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
