#include "tests/server/tls_test_server.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/temp_folder.h"

namespace vaultwick::test {
namespace {

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

// Runs shell commands; their output goes to *output when given.
bool Run(const std::string& command, std::string* output = nullptr) {
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

std::string MariadbScript() {
  const char* source = std::getenv("VAULTWICK_SOURCE_DIR");
  return std::string(source != nullptr ? source : ".") + "/scripts/mariadb";
}

// Makes, in `dir`, a CA (ca.pem) and two certificates it signs: one for
// 127.0.0.1 and localhost (right-*.pem), one for other.example (wrong-*.pem);
// and a second CA (other-ca.pem) that signs nothing.
bool MakeCertificates(const std::string& dir, std::string* why) {
  const std::string d = Quote(dir);
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
  if (!Run(script, &output)) {
    *why = "openssl could not make the test certificates: " + output;
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<TlsTestServer> TlsTestServer::Start(std::string* why) {
  std::optional<PrivateTempFolder> made = PrivateTempFolder::Create("vw-tls-server-");
  if (!made) {
    *why = "no temporary folder";
    return nullptr;
  }
  std::unique_ptr<TlsTestServer> server(new TlsTestServer(std::move(*made)));
  if (!MakeCertificates(server->folder_.path(), why)) {
    return nullptr;
  }
  std::string output;
  if (!Run(MariadbScript() + " start-tls " + Quote(server->folder_.path()), &output)) {
    *why = "the TLS server did not start: " + output;
    return nullptr;
  }
  const std::string key = "VAULTWICK_TEST_DB_PORT=";
  const std::size_t at = output.find(key);
  if (at == std::string::npos) {
    *why = "the TLS server gave no port: " + output;
    return nullptr;
  }
  server->port_ =
      static_cast<unsigned>(std::strtoul(output.c_str() + at + key.size(), nullptr, 10));
  return server;
}

TlsTestServer::~TlsTestServer() {
  Run(MariadbScript() + " stop " + Quote(folder_.path()));
}

bool TlsTestServer::ShowCertificateFor(bool rightName, std::string* why) {
  const std::string which = rightName ? "right" : "wrong";
  std::string output;
  if (!Run("cd " + Quote(folder_.path()) + " && cp " + which +
               "-cert.pem tls/server-cert.pem && cp " + which +
               "-key.pem tls/server-key.pem && mariadb --no-defaults --socket=" +
               Quote(folder_.FilePath("mariadb.sock")) + " -uroot -e 'FLUSH SSL'",
           &output)) {
    *why = "the TLS server did not take the new certificate: " + output;
    return false;
  }
  return true;
}

}  // namespace vaultwick::test
