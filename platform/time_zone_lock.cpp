#include "platform/time_zone_lock.h"

namespace vaultwick {

std::mutex& TimeZoneLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace vaultwick
