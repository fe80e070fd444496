#include "server/tls.h"

#include <errmsg.h>
#include <fcntl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vaultwick {
namespace {

bool Verifies(TlsMode mode) {
  return mode == TlsMode::VerifyCa || mode == TlsMode::VerifyIdentity;
}

// What the client library says for the failures that have a refusal of
// their own; its texts are all it tells apart.
constexpr std::string_view kLibraryPrefix = "TLS/SSL error: ";
constexpr std::string_view kLibraryNoTls = "SSL is required, but the server does not support it";
constexpr std::string_view kLibraryWrongHost = "Validation of SSL server certificate failed";

}  // namespace

void ApplyTls(MYSQL* handle, const TlsSettings& tls) {
  my_bool yes = 1;
  switch (tls.mode) {
    case TlsMode::Off:
      return;
    case TlsMode::Preferred:
      // Asks for TLS; the library goes on without it when the server has none.
      mysql_ssl_set(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
      return;
    case TlsMode::Required:
      mysql_options(handle, MYSQL_OPT_SSL_ENFORCE, &yes);
      return;
    case TlsMode::VerifyCa:
    case TlsMode::VerifyIdentity:
      mysql_options(handle, MYSQL_OPT_SSL_ENFORCE, &yes);
      // The library verifies the chain whenever it is given a CA.
      if (tls.caFile.empty()) {
        mysql_options(handle, MYSQL_OPT_SSL_CAPATH, X509_get_default_cert_dir());
      } else {
        mysql_options(handle, MYSQL_OPT_SSL_CA, tls.caFile.c_str());
      }
      if (tls.mode == TlsMode::VerifyIdentity) {
        mysql_options(handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes);
      }
      return;
  }
}

std::optional<std::string> TlsRefusal(MYSQL* handle, const TlsSettings& tls,
                                      std::string_view host) {
  if (tls.mode == TlsMode::Off || mysql_errno(handle) != CR_SSL_CONNECTION_ERROR) {
    return std::nullopt;
  }
  std::string_view detail = mysql_error(handle);
  if (detail.substr(0, kLibraryPrefix.size()) == kLibraryPrefix) {
    detail.remove_prefix(kLibraryPrefix.size());
  }
  if (detail == kLibraryNoTls) {
    return kTextServerOffersNoTls;
  }
  if (!Verifies(tls.mode)) {
    return "TLS failed: " + std::string(detail);
  }
  // The library only says the chain did not verify; a CA file it could not
  // read is the likelier mistake, and the one the user can fix.
  if (!tls.caFile.empty()) {
    const int fd = ::open(tls.caFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return kTextCertificateNotTrusted + ("cannot read the CA file " + tls.caFile) + ": " +
             std::strerror(errno);
    }
    ::close(fd);
  }
  if (tls.mode == TlsMode::VerifyIdentity && detail == kLibraryWrongHost) {
    return kTextHostNotInCertificate + std::string(host);
  }
  return kTextCertificateNotTrusted + std::string(detail);
}

std::optional<std::string> MissingTls(MYSQL* handle, const TlsSettings& tls) {
  if (tls.mode == TlsMode::Off || tls.mode == TlsMode::Preferred ||
      mysql_get_ssl_cipher(handle) != nullptr) {
    return std::nullopt;
  }
  return kTextServerOffersNoTls;
}

}  // namespace vaultwick
