#pragma once

// The private test server started a second time, offering TLS with
// certificates the test makes with openssl: a CA of its own, a certificate
// it signed for 127.0.0.1 and localhost, one it signed for another name, and
// a second CA that signed nothing this server shows. The server runs from
// Start to the object's end and is stopped by its pid.

#include <memory>
#include <string>

#include "platform/temp_folder.h"

namespace vaultwick::test {

class TlsTestServer {
 public:
  // Null, with the reason in *why, when openssl or the server failed.
  static std::unique_ptr<TlsTestServer> Start(std::string* why);
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  unsigned port() const { return port_; }
  std::string CaFile() const { return folder_.FilePath("tls/ca.pem"); }
  std::string OtherCaFile() const { return folder_.FilePath("other-ca.pem"); }

  // Which certificate the server shows from now on (FLUSH SSL on its socket).
  bool ShowCertificateFor(bool rightName, std::string* why);

 private:
  explicit TlsTestServer(PrivateTempFolder folder) : folder_(std::move(folder)) {}

  PrivateTempFolder folder_;  // removed after the server has stopped
  unsigned port_ = 0;
};

}  // namespace vaultwick::test
