#include "backup/backup_request.h"

namespace vaultwick {

bool IsValidConnectionName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool MarkJobFinished(BackupRequest& request) {
  std::lock_guard<std::mutex> lock(request.handOverLock);
  request.jobFinished = 1;
  return request.windowClosed.load() != 0;
}

bool MarkWindowClosed(BackupRequest& request) {
  std::lock_guard<std::mutex> lock(request.handOverLock);
  request.windowClosed.store(1);
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
