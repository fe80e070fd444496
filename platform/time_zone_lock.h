#pragma once

// The C library keeps the time zone in process-wide state that tzset
// replaces, and mktime and libarchive's header parsing call tzset. The
// library's own lock is invisible to thread checkers, so every caller in this
// program that may replace that state (the archive writer's time conversions,
// the archive reader's header reads) holds this one lock around the call.

#include <mutex>

namespace vaultwick {

std::mutex& TimeZoneLock();

}  // namespace vaultwick
