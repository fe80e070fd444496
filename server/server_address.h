#pragma once

// The host of a connection as it is connected to: "host" (port 3306),
// "host:port", or an IPv6 address in brackets, "[::1]" or "[::1]:3307".
// A bare IPv6 address without brackets has several colons and is taken whole,
// with port 3306.

#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

inline constexpr unsigned kDefaultMysqlPort = 3306;

struct ServerAddress {
  std::string host;
  unsigned port = kDefaultMysqlPort;
  // A port written out means TCP to that port, also for "localhost", which
  // the client library would otherwise reach through its default local socket
  // (possibly another server's).
  bool portGiven = false;
};

// nullopt when the text cannot name a server: an unclosed bracket, text after
// a closing bracket other than ":port", or a port that is not 1 to 65535.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

}  // namespace vaultwick
