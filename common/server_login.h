#pragma once

// What it takes to log in to a MySQL/MariaDB server: one value that a stored
// connection, a backup request and a restore request each hold whole,
// instead of copying its fields one by one. It is a plain value, below every
// folder, so that the settings store keeps it as it is too.

#include <string>

#include "common/server_tls.h"

namespace vaultwick {

// How long work waits for the server before it gives up on it, so that a
// silent server cannot hold it for ever. A read may wait for a long query's
// first row (a large view, a table another session has locked), hence minutes.
struct ConnectionTimeouts {
  unsigned connectSeconds = 30;
  unsigned readWriteSeconds = 300;
  bool operator==(const ConnectionTimeouts&) const = default;
};

struct ServerLogin {
  std::string host;  // "host", "host:port" or "[v6-address]:port"
  std::string login;
  std::string password;
  std::string database;
  ConnectionTimeouts timeouts;
  TlsSettings tls;
  bool operator==(const ServerLogin&) const = default;
};

}  // namespace vaultwick
