#include "shell/archive_password.h"

#include <openssl/rand.h>

#include <cstdint>
#include <stdexcept>

namespace vaultwick {
namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";  // 32 symbols, 5 bits each
static_assert(sizeof kAlphabet - 1 == 32);
constexpr int kSymbols = 28;  // 140 bits
constexpr int kGroup = 4;

}  // namespace

std::string GenerateArchivePassword() {
  unsigned char random[(kSymbols * 5 + 7) / 8];
  if (RAND_bytes(random, sizeof random) != 1) {
    throw std::runtime_error("the system's random generator gave no bytes for a password");
  }
  std::string password;
  std::uint32_t bits = 0;
  int held = 0;
  std::size_t next = 0;
  for (int symbol = 0; symbol < kSymbols; ++symbol) {
    if (held < 5) {
      bits = (bits << 8) | random[next++];
      held += 8;
    }
    held -= 5;
    if (symbol > 0 && symbol % kGroup == 0) {
      password += '-';
    }
    password += kAlphabet[(bits >> held) & 31];
  }
  return password;
}

}  // namespace vaultwick
