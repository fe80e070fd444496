#pragma once

// A MariaDB server of a test's own (scripts/mariadb), for settings no test may
// change on the shared private server: it runs in a private folder from Start
// to the object's end and is stopped by its pid.

#include <functional>
#include <memory>
#include <string>

#include "platform/temp_folder.h"
#include "tests/support/test_database.h"

namespace vaultwick::test {

// Runs shell commands; their output, errors included, goes to *output when given.
bool RunShell(const std::string& command, std::string* output = nullptr);

// `text` in single quotes, for the paths of the test's own folders.
std::string ShellQuote(const std::string& text);

class PrivateServer {
 public:
  // Readies the server's folder before the server starts (certificates, say).
  using Prepare = std::function<bool(const std::string& folder, std::string* why)>;

  // Starts the script's `verb` ("start", "start-tls") in a new folder with
  // `options` for the server. Null, with the reason in *why, when it did not.
  static std::unique_ptr<PrivateServer> Start(const std::string& verb, const std::string& options,
                                              std::string* why, const Prepare& prepare = {});
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  unsigned port() const { return port_; }
  const std::string& folder() const { return folder_.path(); }
  std::string FilePath(const std::string& name) const { return folder_.FilePath(name); }
  // The shared server's login, on this server.
  TestServer On(const TestServer& shared) const;

 private:
  explicit PrivateServer(PrivateTempFolder folder) : folder_(std::move(folder)) {}

  PrivateTempFolder folder_;  // removed after the server has stopped
  unsigned port_ = 0;
  bool running_ = false;
};

}  // namespace vaultwick::test
