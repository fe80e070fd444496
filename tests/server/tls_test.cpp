// TLS to the server, each mode against the private server (no TLS), a second
// server offering TLS with a certificate for 127.0.0.1 and localhost signed by
// a CA of the test's own, and the same server showing a certificate for
// another name.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/server_connection.h"
#include "server/tls.h"
#include "tests/server/tls_test_server.h"
#include "tests/support/test_database.h"

namespace vaultwick {
namespace {

using Opened = ServerConnection::Opened;

struct Attempt {
  Opened opened;
  std::string error;
  bool encrypted = false;
};

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    if (!test::TestServerFromEnvironment(&why)) {
      return;  // each test skips, or fails when a server is required
    }
    tlsServer_ = test::TlsTestServer::Start(&why);
    startFailure_ = why;
  }
  static void TearDownTestSuite() { tlsServer_.reset(); }

  void SetUp() override {
    VAULTWICK_REQUIRE_TEST_SERVER(server);
    plain_ = server;
    ASSERT_NE(tlsServer_, nullptr) << startFailure_;
  }

  Attempt Open(unsigned port, TlsMode mode, const std::string& caFile = "") const {
    ServerLogin login;
    login.host = "127.0.0.1:" + std::to_string(port);
    login.login = plain_.user;
    login.password = plain_.password;
    login.tls = {mode, caFile};
    ServerConnection connection(StopToken::Never());
    Attempt attempt{connection.Open(login), connection.Error()};
    attempt.encrypted = connection.get() != nullptr && mysql_get_ssl_cipher(connection.get());
    return attempt;
  }
  Attempt OpenPlain(TlsMode mode) const { return Open(plain_.port, mode); }
  Attempt OpenTls(TlsMode mode, const std::string& caFile = "") const {
    return Open(tlsServer_->port(), mode, caFile);
  }
  void ShowCertificateFor(bool rightName) const {
    std::string why;
    ASSERT_TRUE(tlsServer_->ShowCertificateFor(rightName, &why)) << why;
  }

  static inline std::unique_ptr<test::TlsTestServer> tlsServer_;
  static inline std::string startFailure_;
  test::TestServer plain_;
};

TEST_F(TlsTest, ServerWithoutTls) {
  for (TlsMode mode : {TlsMode::Off, TlsMode::Preferred}) {
    const Attempt attempt = OpenPlain(mode);
    EXPECT_EQ(attempt.opened, Opened::Connected) << TlsModeText(mode) << ": " << attempt.error;
    EXPECT_FALSE(attempt.encrypted) << TlsModeText(mode);
  }
  for (TlsMode mode : {TlsMode::Required, TlsMode::VerifyCa, TlsMode::VerifyIdentity}) {
    const Attempt attempt = OpenPlain(mode);
    EXPECT_EQ(attempt.opened, Opened::Refused) << TlsModeText(mode);
    EXPECT_EQ(attempt.error, kTextServerOffersNoTls) << TlsModeText(mode);
  }
}

TEST_F(TlsTest, CertificateForTheHost) {
  ShowCertificateFor(true);
  const Attempt off = OpenTls(TlsMode::Off);
  EXPECT_EQ(off.opened, Opened::Connected) << off.error;
  EXPECT_FALSE(off.encrypted);
  for (TlsMode mode : {TlsMode::Preferred, TlsMode::Required}) {
    const Attempt attempt = OpenTls(mode);
    EXPECT_EQ(attempt.opened, Opened::Connected) << TlsModeText(mode) << ": " << attempt.error;
    EXPECT_TRUE(attempt.encrypted) << TlsModeText(mode);
  }
  for (TlsMode mode : {TlsMode::VerifyCa, TlsMode::VerifyIdentity}) {
    const Attempt trusted = OpenTls(mode, tlsServer_->CaFile());
    EXPECT_EQ(trusted.opened, Opened::Connected) << TlsModeText(mode) << ": " << trusted.error;
    EXPECT_TRUE(trusted.encrypted) << TlsModeText(mode);
    // Another CA, and the system's, which never signed the test's CA.
    for (const std::string& ca : {tlsServer_->OtherCaFile(), std::string()}) {
      const Attempt untrusted = OpenTls(mode, ca);
      EXPECT_EQ(untrusted.opened, Opened::Refused) << TlsModeText(mode) << " " << ca;
      EXPECT_EQ(untrusted.error.rfind(kTextCertificateNotTrusted, 0), 0u)
          << TlsModeText(mode) << " " << ca << ": " << untrusted.error;
    }
    const std::string missing = tlsServer_->CaFile() + ".missing";
    EXPECT_EQ(OpenTls(mode, missing).error, std::string(kTextCertificateNotTrusted) +
                                                "cannot read the CA file " + missing +
                                                ": No such file or directory");
  }
}

TEST_F(TlsTest, CertificateForAnotherName) {
  ShowCertificateFor(false);
  for (TlsMode mode : {TlsMode::Preferred, TlsMode::Required, TlsMode::VerifyCa}) {
    const Attempt attempt = OpenTls(mode, tlsServer_->CaFile());
    EXPECT_EQ(attempt.opened, Opened::Connected) << TlsModeText(mode) << ": " << attempt.error;
    EXPECT_TRUE(attempt.encrypted) << TlsModeText(mode);
  }
  const Attempt identity = OpenTls(TlsMode::VerifyIdentity, tlsServer_->CaFile());
  EXPECT_EQ(identity.opened, Opened::Refused);
  EXPECT_EQ(identity.error, std::string(kTextHostNotInCertificate) + "127.0.0.1");
  ShowCertificateFor(true);
}

}  // namespace
}  // namespace vaultwick
