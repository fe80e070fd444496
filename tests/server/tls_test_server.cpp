#include "tests/server/tls_test_server.h"

#include <string>

namespace vaultwick::test {
namespace {

// Makes, in `dir`, a CA (ca.pem) and two certificates it signs: one for
// 127.0.0.1 and localhost (right-*.pem), one for other.example (wrong-*.pem);
// and a second CA (other-ca.pem) that signs nothing.
bool MakeCertificates(const std::string& dir, std::string* why) {
  const std::string d = ShellQuote(dir);
  const std::string script =
      "set -e; cd " + d +
      "; mkdir -p tls;"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Vaultwick test CA'"
      " -keyout ca-key.pem -out tls/ca.pem;"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Another CA'"
      " -keyout other-ca-key.pem -out other-ca.pem;"
      "for which in right wrong; do"
      "  if [ $which = right ]; then names='IP:127.0.0.1,DNS:localhost'; cn=127.0.0.1;"
      "  else names='DNS:other.example'; cn=other.example; fi;"
      "  openssl req -newkey rsa:2048 -nodes -subj \"/CN=$cn\" -keyout $which-key.pem"
      "   -out $which.csr;"
      "  printf 'subjectAltName=%s\\n' \"$names\" > $which.ext;"
      "  openssl x509 -req -in $which.csr -CA tls/ca.pem -CAkey ca-key.pem -CAcreateserial"
      "   -days 2 -extfile $which.ext -out $which-cert.pem;"
      "done;"
      "cp right-cert.pem tls/server-cert.pem; cp right-key.pem tls/server-key.pem";
  std::string output;
  if (!RunShell(script, &output)) {
    *why = "openssl could not make the test certificates: " + output;
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<TlsTestServer> TlsTestServer::Start(std::string* why) {
  std::unique_ptr<PrivateServer> server =
      PrivateServer::Start("start-tls", "", why, MakeCertificates);
  if (server == nullptr) {
    return nullptr;
  }
  return std::unique_ptr<TlsTestServer>(new TlsTestServer(std::move(server)));
}

bool TlsTestServer::ShowCertificateFor(bool rightName, std::string* why) {
  const std::string which = rightName ? "right" : "wrong";
  std::string output;
  if (!RunShell("cd " + ShellQuote(server_->folder()) + " && cp " + which +
                    "-cert.pem tls/server-cert.pem && cp " + which +
                    "-key.pem tls/server-key.pem && mariadb --no-defaults --socket=" +
                    ShellQuote(server_->FilePath("mariadb.sock")) + " -uroot -e 'FLUSH SSL'",
                &output)) {
    *why = "the TLS server did not take the new certificate: " + output;
    return false;
  }
  return true;
}

}  // namespace vaultwick::test
