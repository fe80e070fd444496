#pragma once

// The enciphering of one member's data in the ZIP format's AES encryption,
// AES-256 in its AE-2 form (the authentication code alone guards the data;
// the headers carry no CRC-32). The layout of the data is in zip_format.h.
// Every cryptographic step is libcrypto's: the key derivation, the block
// cipher, the HMAC and the random salt.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "zip/zip_format.h"

namespace vaultwick {

class ZipAesEncryptor {
 public:
  using Salt = std::uint8_t[zip_format::aes_data::kSaltSize];

  // Keys from `password` and a new random salt. Null when no random salt or no
  // cipher context could be had.
  static std::unique_ptr<ZipAesEncryptor> Start(const std::string& password);
  // The same with the salt given (for tests, which need the same keys twice).
  static std::unique_ptr<ZipAesEncryptor> Start(const std::string& password, const Salt& salt);
  ~ZipAesEncryptor();
  ZipAesEncryptor(const ZipAesEncryptor&) = delete;
  ZipAesEncryptor& operator=(const ZipAesEncryptor&) = delete;

  // Salt and password verifier, which go before the enciphered data.
  const std::uint8_t* preamble() const { return preamble_; }

  // Enciphers the next `count` bytes of the member's data from `in` to `out`
  // (which may be the same) and takes them into the authentication code.
  [[nodiscard]] bool encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

  // The authentication code over everything enciphered, to go after the data.
  [[nodiscard]] bool finish(std::uint8_t (&code)[zip_format::aes_data::kAuthCodeSize]);

 private:
  struct Contexts;
  explicit ZipAesEncryptor(std::unique_ptr<Contexts> contexts);
  [[nodiscard]] bool refillKeyStream();

  std::unique_ptr<Contexts> contexts_;
  std::uint8_t preamble_[zip_format::aes_data::kPreambleSize] = {};
  std::uint64_t counter_ = 0;  // of the last block enciphered into the key stream
  std::size_t used_;           // key stream bytes already used
};

}  // namespace vaultwick
