#pragma once

// The private test server started a second time, offering TLS with
// certificates the test makes with openssl: a CA of its own, a certificate
// it signed for 127.0.0.1 and localhost, one it signed for another name, and
// a second CA that signed nothing this server shows.

#include <memory>
#include <string>

#include "tests/support/private_server.h"

namespace vaultwick::test {

class TlsTestServer {
 public:
  // Null, with the reason in *why, when openssl or the server failed.
  static std::unique_ptr<TlsTestServer> Start(std::string* why);
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  unsigned port() const { return server_->port(); }
  std::string CaFile() const { return server_->FilePath("tls/ca.pem"); }
  std::string OtherCaFile() const { return server_->FilePath("other-ca.pem"); }

  // Which certificate the server shows from now on (FLUSH SSL on its socket).
  bool ShowCertificateFor(bool rightName, std::string* why);

 private:
  explicit TlsTestServer(std::unique_ptr<PrivateServer> server) : server_(std::move(server)) {}

  std::unique_ptr<PrivateServer> server_;
};

}  // namespace vaultwick::test
