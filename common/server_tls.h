#pragma once

// How a connection asks for TLS, a plain value that the settings store keeps
// and the server layer applies. The modes, strongest first:
//
//   verify-identity  TLS, the certificate chains to the CA (the given file,
//                    else the system's) and names the host connected to
//   verify-ca        TLS, the certificate chains to the CA; any name
//   required         TLS, any certificate
//   preferred        TLS when the server offers it, else none (the default)
//   off              never TLS

#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

enum class TlsMode { Preferred, Required, VerifyCa, VerifyIdentity, Off };

struct TlsSettings {
  TlsMode mode = TlsMode::Preferred;
  std::string caFile;  // the CA of the verifying modes; empty: the system's
  bool operator==(const TlsSettings&) const = default;
};

struct TlsModeName {
  TlsMode mode;
  std::string_view name;
};
inline constexpr TlsModeName kTlsModeNames[] = {
    {TlsMode::Preferred, "preferred"},
    {TlsMode::Required, "required"},
    {TlsMode::VerifyCa, "verify-ca"},
    {TlsMode::VerifyIdentity, "verify-identity"},
    {TlsMode::Off, "off"},
};

constexpr std::string_view TlsModeText(TlsMode mode) {
  for (const TlsModeName& entry : kTlsModeNames) {
    if (entry.mode == mode) {
      return entry.name;
    }
  }
  return {};
}

constexpr std::optional<TlsMode> ParseTlsMode(std::string_view name) {
  for (const TlsModeName& entry : kTlsModeNames) {
    if (entry.name == name) {
      return entry.mode;
    }
  }
  return std::nullopt;
}

}  // namespace vaultwick
