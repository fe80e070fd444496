#pragma once

// TLS to the server, as each connection asks for it (see common/server_tls.h),
// through the client library's options. A mode the server cannot meet is a
// refusal that says why, and the connection is closed before a single query.

#include <mysql.h>

#include <optional>
#include <string>
#include <string_view>

#include "common/server_tls.h"

namespace vaultwick {

inline constexpr const char* kTextServerOffersNoTls = "the server offers no TLS";
inline constexpr const char* kTextCertificateNotTrusted = "certificate not trusted: ";
inline constexpr const char* kTextHostNotInCertificate =
    "host name does not match the certificate: ";

// Sets the options of a handle not yet connected.
void ApplyTls(MYSQL* handle, const TlsSettings& tls);

// After a connect that failed: the refusal, in the user's words, when TLS
// was what failed; nullopt for any other failure.
std::optional<std::string> TlsRefusal(MYSQL* handle, const TlsSettings& tls, std::string_view host);

// After a connect that succeeded: the refusal when the mode wants TLS and the
// connection has none.
std::optional<std::string> MissingTls(MYSQL* handle, const TlsSettings& tls);

}  // namespace vaultwick
