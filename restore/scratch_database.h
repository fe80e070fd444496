#pragma once

// The scratch database of a test restore, from the first look to the drop.
// A connection of its own, which no stop cuts (a stop cuts the work's
// connections, and the scratch database must go all the same), holds a lock
// on the server named after the scratch database all along, so that two test
// restores into one scratch database (two connections that name the same
// one, two programs) never load into each other: the second is refused.

#include <memory>
#include <string>

#include "common/server_login.h"
#include "server/server_connection.h"

namespace vaultwick {

class ScratchDatabase {
 public:
  explicit ScratchDatabase(const ServerLogin& server);

  // Takes the scratch database for this test restore: it is nobody else's,
  // holds nothing (a mistyped name must not cost a real database), and the
  // login may drop it, so that no copy will stay behind. Empty when taken,
  // else why not; nothing was made then.
  std::string Take();

  // Drops the scratch database once taken. Empty when it is gone, else why
  // not and where the copy stays.
  std::string Drop();

 private:
  // Opens the keeping connection and takes the lock, waiting at most
  // `waitSeconds` for another holder. Empty when done, else why not.
  std::string Lock(int waitSeconds);

  ServerLogin server_;
  std::unique_ptr<ServerConnection> connection_;
  bool taken_ = false;
};

}  // namespace vaultwick
