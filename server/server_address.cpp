#include "server/server_address.h"

namespace vaultwick {
namespace {

std::optional<unsigned> ParsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) {
    return std::nullopt;
  }
  unsigned port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
  ServerAddress address;
  if (!text.empty() && text.front() == '[') {
    std::string_view::size_type close = text.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    address.host = std::string(text.substr(1, close - 1));
    std::string_view rest = text.substr(close + 1);
    if (rest.empty()) {
      return address;
    }
    if (rest.front() != ':') {
      return std::nullopt;
    }
    std::optional<unsigned> port = ParsePort(rest.substr(1));
    if (!port) {
      return std::nullopt;
    }
    address.port = *port;
    address.portGiven = true;
    return address;
  }
  std::string_view::size_type colon = text.find(':');
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    address.host = std::string(text);
    return address;
  }
  std::optional<unsigned> port = ParsePort(text.substr(colon + 1));
  if (!port) {
    return std::nullopt;
  }
  address.host = std::string(text.substr(0, colon));
  address.port = *port;
  address.portGiven = true;
  return address;
}

}  // namespace vaultwick
