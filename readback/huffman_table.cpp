#include "readback/huffman_table.h"

#include <algorithm>

namespace vaultwick {

namespace {

struct MatchSymbols {
  std::array<std::uint16_t, 29> lengthBase{};
  std::array<std::uint8_t, 29> lengthExtra{};
  std::array<std::uint16_t, 30> distanceBase{};
  std::array<std::uint8_t, 30> distanceExtra{};
};

// Lengths 3-258 in 29 symbols and distances 1-32768 in 30: after the first
// few, every group of four lengths (two distances) takes one more extra bit;
// the last length symbol is 258 alone.
constexpr MatchSymbols MakeMatchSymbols() {
  MatchSymbols symbols;
  unsigned base = 3;
  for (unsigned i = 0; i < 28; ++i) {
    symbols.lengthExtra[i] = static_cast<std::uint8_t>(i < 8 ? 0 : (i - 4) / 4);
    symbols.lengthBase[i] = static_cast<std::uint16_t>(base);
    base += 1u << symbols.lengthExtra[i];
  }
  symbols.lengthBase[28] = 258;
  base = 1;
  for (unsigned i = 0; i < 30; ++i) {
    symbols.distanceExtra[i] = static_cast<std::uint8_t>(i < 4 ? 0 : (i - 2) / 2);
    symbols.distanceBase[i] = static_cast<std::uint16_t>(base);
    base += 1u << symbols.distanceExtra[i];
  }
  return symbols;
}

constexpr MatchSymbols kMatchSymbols = MakeMatchSymbols();
static_assert(kMatchSymbols.lengthBase[27] == 227 && kMatchSymbols.lengthExtra[27] == 5);
static_assert(kMatchSymbols.distanceBase[29] == 24577 && kMatchSymbols.distanceExtra[29] == 13);

constexpr std::uint32_t Entry(HuffmanTable::Kind kind, unsigned length, unsigned extra,
                              unsigned value) {
  return length | (extra << 4) | (static_cast<std::uint32_t>(kind) << 8) | (value << 16);
}

constexpr std::uint32_t kNoSymbol = Entry(HuffmanTable::kNone, HuffmanTable::kMaxCodeBits, 0, 0);

std::uint32_t SymbolEntry(Alphabet alphabet, unsigned symbol, unsigned length) {
  switch (alphabet) {
    case Alphabet::LiteralLength:
      if (symbol < 256) {
        return Entry(HuffmanTable::kLiteral, length, 0, symbol);
      }
      if (symbol == 256) {
        return Entry(HuffmanTable::kEnd, length, 0, 0);
      }
      if (symbol - 257 < kMatchSymbols.lengthBase.size()) {
        return Entry(HuffmanTable::kBase, length, kMatchSymbols.lengthExtra[symbol - 257],
                     kMatchSymbols.lengthBase[symbol - 257]);
      }
      break;
    case Alphabet::Distance:
      if (symbol < kMatchSymbols.distanceBase.size()) {
        return Entry(HuffmanTable::kBase, length, kMatchSymbols.distanceExtra[symbol],
                     kMatchSymbols.distanceBase[symbol]);
      }
      break;
    case Alphabet::CodeLength:
      return Entry(HuffmanTable::kLiteral, length, 0, symbol);
  }
  // Symbols a fixed code has room for but that stand for nothing.
  return Entry(HuffmanTable::kNone, length, 0, 0);
}

// The `bits` low bits of `code` in the opposite order: codes are sent from
// their highest bit on, and the stream is read from each byte's lowest.
unsigned Reversed(unsigned code, unsigned bits) {
  unsigned reversed = 0;
  for (unsigned i = 0; i < bits; ++i) {
    reversed = (reversed << 1) | ((code >> i) & 1);
  }
  return reversed;
}

}  // namespace

const char* HuffmanTable::Build(const std::uint8_t* lengths, unsigned count, Alphabet alphabet) {
  std::array<unsigned, kMaxCodeBits + 1> perLength{};
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    ++perLength[lengths[symbol]];
  }
  const unsigned used = count - perLength[0];
  int left = 1;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    left = left * 2 - static_cast<int>(perLength[length]);
    if (left < 0) {
      return "an over-subscribed code";
    }
  }
  if (left > 0 && used > 0 && !(used == 1 && perLength[1] == 1)) {
    return "an incomplete code";
  }
  // Canonical codes: shorter ones first, and in symbol order within a length.
  std::array<unsigned, kMaxCodeBits + 2> next{};
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    next[length + 1] = (next[length] + perLength[length]) << 1;
  }
  std::array<std::uint16_t, 288> codes{};
  std::array<std::uint8_t, 1u << kRootBits> subBits{};
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) {
      continue;
    }
    codes[symbol] = static_cast<std::uint16_t>(next[length]++);
    if (length > kRootBits) {
      const unsigned root = Reversed(codes[symbol] >> (length - kRootBits), kRootBits);
      subBits[root] =
          static_cast<std::uint8_t>(std::max<unsigned>(subBits[root], length - kRootBits));
    }
  }
  unsigned end = 1u << kRootBits;
  for (unsigned root = 0; root < (1u << kRootBits); ++root) {
    entries_[root] = kNoSymbol;
    if (subBits[root] != 0) {
      entries_[root] = Entry(kLink, 0, 0, end) | (static_cast<std::uint32_t>(subBits[root]) << 11);
      for (unsigned i = 0; i < (1u << subBits[root]); ++i) {
        entries_[end + i] = kNoSymbol;
      }
      end += 1u << subBits[root];
    }
  }
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) {
      continue;
    }
    const std::uint32_t entry = SymbolEntry(alphabet, symbol, length);
    if (length <= kRootBits) {
      for (unsigned at = Reversed(codes[symbol], length); at < (1u << kRootBits);
           at += 1u << length) {
        entries_[at] = entry;
      }
      continue;
    }
    const unsigned rest = length - kRootBits;
    const std::uint32_t link = entries_[Reversed(codes[symbol] >> rest, kRootBits)];
    const unsigned size = 1u << ((link >> 11) & 0x1F);
    for (unsigned at = Reversed(codes[symbol] & ((1u << rest) - 1), rest); at < size;
         at += 1u << rest) {
      entries_[Value(link) + at] = entry;
    }
  }
  return nullptr;
}

}  // namespace vaultwick
