#pragma once

// A canonical prefix code of deflated data, as a table to decode it with: the
// next kRootBits bits of the stream (first bit lowest) pick an entry; a code
// longer than that continues in a smaller table that the entry links to. Each
// entry says what its symbol means, so that decoding needs no second lookup.

#include <array>
#include <cstdint>

namespace vaultwick {

// What the symbols of a code stand for.
enum class Alphabet {
  LiteralLength,  // 0-255 a byte, 256 the block's end, 257-285 a match length
  Distance,       // 0-29 a match distance
  CodeLength,     // 0-18 as they are
};

class HuffmanTable {
 public:
  static constexpr unsigned kRootBits = 10;
  static constexpr unsigned kMaxCodeBits = 15;

  // An entry, 32 bits:
  //   bits  0-3   the code's length in bits (a link: unused; no symbol: 15)
  //   bits  4-7   extra bits that follow the code (a length or a distance)
  //   bits  8-10  its kind (below)
  //   bits 11-15  a link's number of index bits
  //   bits 16-31  a byte, a length or distance before its extra bits, a
  //               code-length symbol, or where a link's table starts
  enum Kind : std::uint32_t { kLiteral = 0, kBase = 1, kEnd = 2, kLink = 3, kNone = 4 };
  static unsigned Length(std::uint32_t entry) { return entry & 0xF; }
  static unsigned Extra(std::uint32_t entry) { return (entry >> 4) & 0xF; }
  static Kind KindOf(std::uint32_t entry) { return static_cast<Kind>((entry >> 8) & 0x7); }
  static unsigned Value(std::uint32_t entry) { return entry >> 16; }

  // Builds the code whose symbol n has code length lengths[n] (0: unused).
  // nullptr on success, else why the lengths make no code: more codes than
  // their lengths have room for, or fewer (which only a code of one symbol,
  // one bit long, may have).
  const char* Build(const std::uint8_t* lengths, unsigned count, Alphabet alphabet);

  // The entry of the code that starts the stream's next bits.
  std::uint32_t Find(std::uint64_t bits) const {
    const std::uint32_t entry = entries_[bits & kRootMask];
    if (KindOf(entry) != kLink) {
      return entry;
    }
    const unsigned subBits = (entry >> 11) & 0x1F;
    return entries_[Value(entry) + ((bits >> kRootBits) & ((1u << subBits) - 1))];
  }

 private:
  static constexpr std::uint32_t kRootMask = (1u << kRootBits) - 1;
  // Every code longer than the root holds a linked table of at most
  // 2^(15 - kRootBits) entries; there are at most 288 of them.
  static constexpr std::size_t kCapacity =
      (std::size_t{1} << kRootBits) + 288 * (std::size_t{1} << (kMaxCodeBits - kRootBits));

  std::array<std::uint32_t, kCapacity> entries_{};
};

}  // namespace vaultwick
