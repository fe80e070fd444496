#include "tests/support/private_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace vaultwick::test {
namespace {

std::string MariadbScript() {
  const char* source = std::getenv("VAULTWICK_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/scripts/mariadb";
}

}  // namespace

bool RunShell(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen(("(" + command + ") 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return false;
  }
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    text.append(buffer, n);
  }
  const bool ok = ::pclose(pipe) == 0;
  if (output != nullptr) {
    *output = text;
  }
  return ok;
}

std::string ShellQuote(const std::string& text) {
  return "'" + text + "'";
}

std::unique_ptr<PrivateServer> PrivateServer::Start(const std::string& verb,
                                                    const std::string& options, std::string* why,
                                                    const Prepare& prepare) {
  std::optional<PrivateTempFolder> made = PrivateTempFolder::Create("vw-own-server-");
  if (!made) {
    *why = "no temporary folder";
    return nullptr;
  }
  std::unique_ptr<PrivateServer> server(new PrivateServer(std::move(*made)));
  if (prepare && !prepare(server->folder(), why)) {
    return nullptr;
  }
  std::string output;
  if (!RunShell(MariadbScript() + " " + verb + " " + ShellQuote(server->folder()) + " " + options,
                &output)) {
    *why = "the server did not start: " + output;
    return nullptr;
  }
  server->running_ = true;
  const std::string key = "VAULTWICK_TEST_DB_PORT=";
  const std::size_t at = output.find(key);
  if (at == std::string::npos) {
    *why = "the server gave no port: " + output;
    return nullptr;
  }
  server->port_ =
      static_cast<unsigned>(std::strtoul(output.c_str() + at + key.size(), nullptr, 10));
  return server;
}

PrivateServer::~PrivateServer() {
  if (running_) {
    std::string output;
    EXPECT_TRUE(RunShell(MariadbScript() + " stop " + ShellQuote(folder()), &output)) << output;
  }
}

TestServer PrivateServer::On(const TestServer& shared) const {
  TestServer own = shared;
  own.port = port_;
  own.socket = FilePath("mariadb.sock");
  return own;
}

}  // namespace vaultwick::test
