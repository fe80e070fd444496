// The inflater against zlib as the judge: streams of every kind of block, fed
// whole or a byte at a time, and malformed streams, which must fail with a
// reason and never be read past their bounds.

#include "readback/inflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/deflate/flate_harness.h"
#include "tests/deflate/zlib_oracle.h"

namespace vaultwick {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Inflated {
  Inflater::Status status = Inflater::Status::NeedInput;
  Bytes bytes;
  std::string error;
  std::uint64_t inputBytes = 0;
};

// Feeds `stream` in pieces of `piece` bytes, then closes it.
Inflated InflateInPieces(const Bytes& stream, std::size_t piece = 1 << 20) {
  Inflated result;
  Inflater inflater([&](const std::uint8_t* bytes, std::size_t count) {
    result.bytes.insert(result.bytes.end(), bytes, bytes + count);
  });
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    // Each piece in a buffer of its own, for the address sanitizer to guard.
    const Bytes copy(
        stream.begin() + static_cast<std::ptrdiff_t>(at),
        stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + piece, stream.size())));
    if (inflater.Feed(copy.data(), copy.size()) != Inflater::Status::NeedInput) {
      break;
    }
  }
  result.status = inflater.Close();
  result.error = inflater.Error();
  result.inputBytes = inflater.InputBytes();
  EXPECT_EQ(inflater.OutputBytes(), result.bytes.size());
  return result;
}

Bytes ZlibDeflate(const Bytes& input, int level, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  Bytes out(deflateBound(&stream, static_cast<uLong>(input.size())));
  stream.next_in = const_cast<std::uint8_t*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void ExpectRoundTrip(const Bytes& stream, const Bytes& input, std::size_t piece = 1 << 20) {
  const Inflated inflated = InflateInPieces(stream, piece);
  ASSERT_EQ(inflated.status, Inflater::Status::Ended) << inflated.error;
  EXPECT_EQ(inflated.inputBytes, stream.size());
  EXPECT_TRUE(inflated.bytes == input) << input.size() << " bytes";
}

// Writes blocks by hand, for streams no compressor makes.
class BitWriter {
 public:
  void Put(unsigned value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      PutBit((value >> i) & 1);
    }
  }
  // A prefix code, highest bit first.
  void PutCode(unsigned code, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
      PutBit((code >> i) & 1);
    }
  }
  void PutStored(const Bytes& bytes, bool final) {
    Put(final ? 1 : 0, 3);
    used_ = 0;  // to the byte's end
    const auto length = static_cast<unsigned>(bytes.size());
    for (const unsigned half : {length, length ^ 0xFFFF}) {
      bytes_.push_back(static_cast<std::uint8_t>(half));
      bytes_.push_back(static_cast<std::uint8_t>(half >> 8));
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  // A match in a block of the fixed code: length 258, distance 24577 + extra.
  void PutLongestMatch(unsigned distanceExtra) {
    PutCode(0xC5, 8);  // length symbol 285
    PutCode(29, 5);    // distance symbol 29
    Put(distanceExtra, 13);
  }
  void Flip(std::size_t bit) { bytes_[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8)); }
  const Bytes& bytes() const { return bytes_; }

 private:
  void PutBit(unsigned bit) {
    if (used_ == 0) {
      bytes_.push_back(0);
    }
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) % 8;
  }
  Bytes bytes_;
  unsigned used_ = 0;
};

TEST(InflaterTest, InflatesZlibStreamsOfEveryLevelAndStrategy) {
  const std::vector<Bytes> inputs = {
      {},
      {'x'},
      test::english_text(200000, 3),
      test::random_bytes(70000, 4),
      test::byte_runs(100000, 5),
      test::binary_records(100000),
  };
  for (const Bytes& input : inputs) {
    for (const int level : {0, 1, 6, 9}) {
      ExpectRoundTrip(ZlibDeflate(input, level), input);
    }
    for (const int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
      ExpectRoundTrip(ZlibDeflate(input, 6, strategy), input);
    }
  }
}

TEST(InflaterTest, InflatesTheWritersOwnStreams) {
  const Bytes dump = test::sql_dump(1000000);
  for (const int level : {1, 5, 8}) {
    ExpectRoundTrip(test::compress(dump, level).bytes, dump);
  }
  test::HarnessOptions twoThreads;
  twoThreads.threads = 2;
  twoThreads.segment_bytes = 256 * 1024;
  ExpectRoundTrip(test::compress(dump, 6, twoThreads).bytes, dump);
}

// Every piece size gives the same bytes, whichever step a piece ends in.
TEST(InflaterTest, PiecesOfAnySizeInflateTheSame) {
  const Bytes input = test::english_text(40000, 9);
  BitWriter stored;
  stored.PutStored(Bytes(input.begin(), input.begin() + 3000), false);
  stored.PutStored({}, false);
  stored.PutStored(Bytes(input.begin() + 3000, input.begin() + 3100), true);
  for (const std::size_t piece : {1, 2, 7, 4097}) {
    ExpectRoundTrip(ZlibDeflate(input, 9), input, piece);
    ExpectRoundTrip(ZlibDeflate(input, 6, Z_FIXED), input, piece);
    ExpectRoundTrip(stored.bytes(), Bytes(input.begin(), input.begin() + 3100), piece);
  }
}

// The farthest a match may reach is the first byte of a full window; one
// byte farther is before the data's start.
TEST(InflaterTest, MatchesReachBackTheWholeWindowAndNoFurther) {
  const Bytes window = test::random_bytes(32768, 11);
  for (const std::size_t held : {std::size_t{32768}, std::size_t{32767}}) {
    BitWriter writer;
    const Bytes first(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(held));
    writer.PutStored(first, false);
    writer.Put(0b011, 3);  // final, fixed code
    for (int i = 0; i < 200; ++i) {
      writer.PutLongestMatch(8191);
    }
    writer.PutCode(0, 7);  // end of block
    const Inflated inflated = InflateInPieces(writer.bytes(), 1000);
    if (held == 32768) {
      ASSERT_EQ(inflated.status, Inflater::Status::Ended) << inflated.error;
      ASSERT_EQ(inflated.bytes.size(), 32768u + 200 * 258);
      for (std::size_t i = 32768; i < inflated.bytes.size(); ++i) {
        ASSERT_EQ(inflated.bytes[i], window[i % 32768]) << i;
      }
    } else {
      EXPECT_EQ(inflated.status, Inflater::Status::Failed);
      EXPECT_EQ(inflated.error, "a match that reaches back before the data's start");
    }
  }
}

TEST(InflaterTest, StreamCutShortFailsAtEveryByte) {
  const Bytes input = test::english_text(3000, 12);
  const Bytes stream = ZlibDeflate(input, 9);
  for (std::size_t size = 0; size < stream.size(); ++size) {
    const Inflated inflated = InflateInPieces(Bytes(stream.begin(), stream.begin() + size));
    ASSERT_EQ(inflated.status, Inflater::Status::Failed) << size;
    ASSERT_EQ(inflated.error, "the data ends before its final block") << size;
  }
}

TEST(InflaterTest, BytesAfterTheFinalBlockAreLeftAndCounted) {
  const Bytes input = test::english_text(5000, 13);
  Bytes stream = ZlibDeflate(input, 6);
  const std::size_t length = stream.size();
  stream.insert(stream.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  const Inflated inflated = InflateInPieces(stream);
  EXPECT_EQ(inflated.status, Inflater::Status::Ended);
  EXPECT_EQ(inflated.inputBytes, length);
  EXPECT_TRUE(inflated.bytes == input);
}

// Whatever a flipped bit makes of a stream, the inflater agrees with zlib:
// the same bytes, or both refuse it.
TEST(InflaterTest, FlippedBitsGiveZlibsVerdict) {
  const Bytes input = test::english_text(1500, 14);
  const Bytes stream = ZlibDeflate(input, 9);
  for (std::size_t bit = 0; bit < stream.size() * 8; ++bit) {
    Bytes flipped = stream;
    flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    const Inflated inflated = InflateInPieces(flipped);
    const bool whole =
        inflated.status == Inflater::Status::Ended && inflated.inputBytes == flipped.size();
    const auto judged = test::zlib_inflate_raw(flipped);
    ASSERT_EQ(whole, judged.has_value()) << "bit " << bit << ": " << inflated.error;
    if (whole) {
      ASSERT_TRUE(inflated.bytes == *judged) << "bit " << bit;
    } else if (inflated.status == Inflater::Status::Failed) {
      ASSERT_FALSE(inflated.error.empty());
    }
  }
}

TEST(InflaterTest, MalformedBlocksFailWithTheirReason) {
  struct Case {
    const char* reason;
    BitWriter stream;
  };
  std::vector<Case> cases(7);
  cases[0].reason = "a block of the reserved type 3";
  cases[0].stream.Put(0b111, 3);
  cases[1].reason = "a stored block whose length and its complement disagree";
  cases[1].stream.PutStored({1, 2, 3, 4, 5}, true);
  cases[1].stream.Flip(3 * 8);  // the complement's lowest bit
  // A dynamic block whose code-length code has nineteen codes of one bit.
  cases[2].reason = "an over-subscribed code";
  cases[2].stream.Put(0b101, 3);
  cases[2].stream.Put(0, 5 + 5);
  cases[2].stream.Put(15, 4);
  for (int i = 0; i < 19; ++i) {
    cases[2].stream.Put(1, 3);
  }
  // Three lengths of two bits: one code is left over.
  cases[3].reason = "an incomplete code";
  cases[3].stream.Put(0b101, 3);
  cases[3].stream.Put(0, 5 + 5);
  cases[3].stream.Put(0, 4);
  cases[3].stream.Put(0b010010010, 9);
  cases[3].stream.Put(0, 3);
  // A code-length code of symbols 16 and 17 only, and a repeat first.
  for (Case* c : {&cases[4], &cases[5]}) {
    c->stream.Put(0b101, 3);
    c->stream.Put(0, 5 + 5);
    c->stream.Put(0, 4);
    c->stream.Put(0b001001, 6);  // 16 and 17: one bit each
    c->stream.Put(0, 6);
  }
  cases[4].reason = "a repeat of the code length before the first";
  cases[4].stream.PutCode(0, 1);
  cases[4].stream.Put(0, 2);
  // 258 codes, and zeros repeated past them.
  cases[5].reason = "code lengths repeated past the last code";
  for (int i = 0; i < 26; ++i) {
    cases[5].stream.PutCode(1, 1);
    cases[5].stream.Put(7, 3);
  }
  // Length symbol 284 with all its extra bits set, where 258 has a symbol
  // of its own.
  cases[6].reason = "a match of 258 bytes as a length with extra bits";
  cases[6].stream.Put(0b011, 3);
  cases[6].stream.PutCode(0xC4, 8);
  cases[6].stream.Put(31, 5);
  cases[6].stream.PutCode(0, 5);
  cases[6].stream.PutCode(0, 7);
  for (const Case& c : cases) {
    const Inflated inflated = InflateInPieces(c.stream.bytes());
    EXPECT_EQ(inflated.status, Inflater::Status::Failed) << c.reason;
    EXPECT_EQ(inflated.error, c.reason);
  }
}

}  // namespace
}  // namespace vaultwick
