#pragma once

// A slow, independent Deflate decoder for tests: it decodes a raw stream and
// also lists what it decoded (block types, literals and matches), so tests can
// check the parse the compressor chose, not only the bytes it gives back.

#include <cstdint>
#include <string>
#include <vector>

namespace vaultwick::test {

struct Symbol {
  int length = 0;    // 0 for a literal
  int distance = 0;  // 0 for a literal
  int literal = 0;
  bool operator==(const Symbol&) const = default;
};

struct DecodedStream {
  bool ok = false;
  std::string failure;
  std::vector<std::uint8_t> bytes;
  std::vector<Symbol> symbols;
  std::vector<int> block_types;  // 0 stored, 1 fixed, 2 dynamic
};

DecodedStream decode_deflate(const std::vector<std::uint8_t>& stream);

// Shorthand for expected sequences: literals of a text, and one match.
std::vector<Symbol> literals(const std::string& text);
Symbol match(int length, int distance);

}  // namespace vaultwick::test
