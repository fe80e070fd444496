#include "tests/deflate/symbol_decoder.h"

#include <array>
#include <stdexcept>

namespace vaultwick::test {

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class BitReader {
 public:
  explicit BitReader(const std::vector<std::uint8_t>& data) : data_(data) {}

  int bit() {
    if (pos_ >= data_.size() * 8) {
      throw Failure("stream ends early");
    }
    const int b = (data_[pos_ / 8] >> (pos_ % 8)) & 1;
    ++pos_;
    return b;
  }
  int bits(int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
      v |= bit() << i;
    }
    return v;
  }
  void align() { pos_ = (pos_ + 7) / 8 * 8; }
  bool at_end() const { return pos_ == data_.size() * 8; }

 private:
  const std::vector<std::uint8_t>& data_;
  std::size_t pos_ = 0;
};

// Canonical Huffman code given by its lengths, decoded one bit at a time.
class Code {
 public:
  explicit Code(const std::vector<int>& lengths) {
    count_.fill(0);
    for (int len : lengths) {
      count_[len] += 1;
    }
    std::array<int, 16> offset{};
    for (int len = 1; len < 16; ++len) {
      offset[len] = offset[len - 1] + (len > 1 ? count_[len - 1] : 0);
    }
    symbols_.resize(lengths.size());
    for (std::size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] != 0) {
        symbols_[offset[lengths[s]]++] = static_cast<int>(s);
      }
    }
  }
  int decode(BitReader& in) const {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= in.bit();
      const int count = count_[len];
      if (code - first < count) {
        return symbols_[index + code - first];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw Failure("bad code");
  }

 private:
  std::array<int, 16> count_;
  std::vector<int> symbols_;
};

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                               33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void decode_symbols(BitReader& in, const Code& lit, const Code& dist, DecodedStream& out) {
  for (;;) {
    const int sym = lit.decode(in);
    if (sym < 256) {
      out.bytes.push_back(static_cast<std::uint8_t>(sym));
      out.symbols.push_back({0, 0, sym});
      continue;
    }
    if (sym == 256) {
      return;
    }
    if (sym > 285) {
      throw Failure("bad length symbol");
    }
    const int length = kLengthBase[sym - 257] + in.bits(kLengthExtra[sym - 257]);
    const int dsym = dist.decode(in);
    if (dsym > 29) {
      throw Failure("bad distance symbol");
    }
    const int distance = kDistBase[dsym] + in.bits(kDistExtra[dsym]);
    if (static_cast<std::size_t>(distance) > out.bytes.size()) {
      throw Failure("distance too far back");
    }
    for (int i = 0; i < length; ++i) {
      out.bytes.push_back(out.bytes[out.bytes.size() - distance]);
    }
    out.symbols.push_back({length, distance, 0});
  }
}

void decode_dynamic(BitReader& in, DecodedStream& out) {
  const int hlit = in.bits(5) + 257;
  const int hdist = in.bits(5) + 1;
  const int hclen = in.bits(4) + 4;
  std::vector<int> cl_lengths(19, 0);
  for (int i = 0; i < hclen; ++i) {
    cl_lengths[kOrder[i]] = in.bits(3);
  }
  const Code cl(cl_lengths);
  std::vector<int> lengths;
  while (static_cast<int>(lengths.size()) < hlit + hdist) {
    const int sym = cl.decode(in);
    if (sym < 16) {
      lengths.push_back(sym);
    } else if (sym == 16) {
      if (lengths.empty()) {
        throw Failure("repeat with no previous length");
      }
      const int n = 3 + in.bits(2);
      lengths.insert(lengths.end(), n, lengths.back());
    } else {
      const int n = sym == 17 ? 3 + in.bits(3) : 11 + in.bits(7);
      lengths.insert(lengths.end(), n, 0);
    }
  }
  if (static_cast<int>(lengths.size()) != hlit + hdist) {
    throw Failure("lengths overrun");
  }
  const Code lit(std::vector<int>(lengths.begin(), lengths.begin() + hlit));
  const Code dist(std::vector<int>(lengths.begin() + hlit, lengths.end()));
  decode_symbols(in, lit, dist, out);
}

}  // namespace

DecodedStream decode_deflate(const std::vector<std::uint8_t>& stream) {
  DecodedStream out;
  BitReader in(stream);
  try {
    int final = 0;
    while (final == 0) {
      final = in.bit();
      const int type = in.bits(2);
      out.block_types.push_back(type);
      if (type == 0) {
        in.align();
        const int len = in.bits(16);
        const int nlen = in.bits(16);
        if ((len ^ 0xFFFF) != nlen) {
          throw Failure("NLEN mismatch");
        }
        for (int i = 0; i < len; ++i) {
          out.bytes.push_back(static_cast<std::uint8_t>(in.bits(8)));
        }
      } else if (type == 1) {
        std::vector<int> lit(288, 8);
        for (int i = 144; i < 256; ++i)
          lit[i] = 9;
        for (int i = 256; i < 280; ++i)
          lit[i] = 7;
        decode_symbols(in, Code(lit), Code(std::vector<int>(30, 5)), out);
      } else if (type == 2) {
        decode_dynamic(in, out);
      } else {
        throw Failure("block type 3");
      }
    }
    in.align();
    if (!in.at_end()) {
      throw Failure("bytes after the final block");
    }
    out.ok = true;
  } catch (const Failure& f) {
    out.failure = f.what();
  }
  return out;
}

std::vector<Symbol> literals(const std::string& text) {
  std::vector<Symbol> out;
  for (unsigned char c : text) {
    out.push_back({0, 0, c});
  }
  return out;
}

Symbol match(int length, int distance) {
  return {length, distance, 0};
}

}  // namespace vaultwick::test
