#include "zip/detail/zip_aes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "zip/little_endian.h"

namespace vaultwick {

namespace {

namespace aes = zip_format::aes_data;

// Key stream made per refill: enough blocks that enciphering them costs one call.
constexpr std::size_t kKeyStreamBlocks = 1024;
constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kKeyStreamSize = kKeyStreamBlocks * kBlockSize;

}  // namespace

struct ZipAesEncryptor::Contexts {
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  EVP_MAC* macAlgorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* mac = macAlgorithm != nullptr ? EVP_MAC_CTX_new(macAlgorithm) : nullptr;
  std::uint8_t counterBlocks[kKeyStreamSize] = {};
  std::uint8_t keyStream[kKeyStreamSize] = {};

  ~Contexts() {
    EVP_MAC_CTX_free(mac);
    EVP_MAC_free(macAlgorithm);
    EVP_CIPHER_CTX_free(cipher);
    OPENSSL_cleanse(keyStream, sizeof keyStream);
  }
  bool ready() const { return cipher != nullptr && mac != nullptr; }
};

ZipAesEncryptor::ZipAesEncryptor(std::unique_ptr<Contexts> contexts)
    : contexts_(std::move(contexts)), used_(kKeyStreamSize) {}

ZipAesEncryptor::~ZipAesEncryptor() = default;

std::unique_ptr<ZipAesEncryptor> ZipAesEncryptor::Start(const std::string& password) {
  Salt salt;
  if (RAND_bytes(salt, sizeof salt) != 1) {
    return nullptr;
  }
  return Start(password, salt);
}

std::unique_ptr<ZipAesEncryptor> ZipAesEncryptor::Start(const std::string& password,
                                                        const Salt& salt) {
  auto contexts = std::make_unique<Contexts>();
  if (!contexts->ready()) {
    return nullptr;
  }
  std::unique_ptr<ZipAesEncryptor> encryptor(new ZipAesEncryptor(std::move(contexts)));
  // AES key, HMAC key, password verifier, in the order the derivation gives them.
  std::uint8_t keys[2 * aes::kKeySize + aes::kVerifierSize];
  char digestName[] = "SHA1";
  const OSSL_PARAM macParameters[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
      OSSL_PARAM_construct_end()};
  Contexts& c = *encryptor->contexts_;
  const bool ready =
      PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, aes::kSaltSize,
                        aes::kIterations, EVP_sha1(), sizeof keys, keys) == 1 &&
      EVP_EncryptInit_ex(c.cipher, EVP_aes_256_ecb(), nullptr, keys, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(c.cipher, 0) == 1 &&
      EVP_MAC_init(c.mac, keys + aes::kKeySize, aes::kKeySize, macParameters) == 1;
  std::memcpy(encryptor->preamble_, salt, aes::kSaltSize);
  std::memcpy(encryptor->preamble_ + aes::kSaltSize, keys + 2 * aes::kKeySize, aes::kVerifierSize);
  OPENSSL_cleanse(keys, sizeof keys);
  return ready ? std::move(encryptor) : nullptr;
}

// The format counts its counter blocks little-endian in their first 8 bytes,
// from 1; OpenSSL's counter mode counts big-endian over all 16. So the counter
// blocks are laid out here and enciphered as they are (ECB), which is the same
// counter mode with the format's counter.
bool ZipAesEncryptor::refillKeyStream() {
  Contexts& c = *contexts_;
  for (std::size_t block = 0; block < kKeyStreamBlocks; ++block) {
    putU64(c.counterBlocks, block * kBlockSize, ++counter_);
  }
  int made = 0;
  if (EVP_EncryptUpdate(c.cipher, c.keyStream, &made, c.counterBlocks, kKeyStreamSize) != 1 ||
      made != static_cast<int>(kKeyStreamSize)) {
    return false;
  }
  used_ = 0;
  return true;
}

bool ZipAesEncryptor::encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    if (used_ == kKeyStreamSize && !refillKeyStream()) {
      return false;
    }
    const std::size_t step = std::min(count - done, kKeyStreamSize - used_);
    const std::uint8_t* key = contexts_->keyStream + used_;
    for (std::size_t i = 0; i < step; ++i) {
      out[done + i] = static_cast<std::uint8_t>(in[done + i] ^ key[i]);
    }
    if (EVP_MAC_update(contexts_->mac, out + done, step) != 1) {
      return false;
    }
    used_ += step;
    done += step;
  }
  return true;
}

bool ZipAesEncryptor::finish(std::uint8_t (&code)[aes::kAuthCodeSize]) {
  std::uint8_t full[EVP_MAX_MD_SIZE];
  std::size_t length = 0;
  if (EVP_MAC_final(contexts_->mac, full, &length, sizeof full) != 1 ||
      length < aes::kAuthCodeSize) {
    return false;
  }
  std::memcpy(code, full, aes::kAuthCodeSize);
  return true;
}

}  // namespace vaultwick
