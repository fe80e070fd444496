#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/deflate/flate_harness.h"
#include "tests/deflate/symbol_decoder.h"

namespace vaultwick {
namespace {

using test::literals;
using test::match;
using test::Symbol;

std::vector<Symbol> parse(const std::vector<std::uint8_t>& input, int level) {
  const auto out = test::compress(input, level);
  EXPECT_EQ(out.error_text, nullptr);
  const auto decoded = test::decode_deflate(out.bytes);
  EXPECT_TRUE(decoded.ok) << decoded.failure;
  EXPECT_EQ(decoded.bytes, input);
  return decoded.symbols;
}

std::vector<Symbol> join(std::initializer_list<std::vector<Symbol>> parts) {
  std::vector<Symbol> all;
  for (const auto& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST(MatchFinder, LazyParseGivesWayToALongerMatchOneByteLater) {
  EXPECT_EQ(parse(test::bytes_of("_abcQbcdefZabcdef"), 8),
            join({literals("_abcQbcdefZa"), {match(5, 7)}}));
}

TEST(MatchFinder, FastParseTakesTheFirstMatch) {
  EXPECT_EQ(parse(test::bytes_of("_abcQbcdefZabcdef"), 1),
            join({literals("_abcQbcdefZ"), {match(3, 10), match(3, 7)}}));
}

TEST(MatchFinder, LazyParseKeepsTheEarlierMatchOnATie) {
  EXPECT_EQ(
      parse(test::bytes_of("_abcdQbcdeZabcde"), 8),
      join({literals("_abcdQ"), {match(3, 4)}, literals("eZ"), {match(4, 10)}, literals("e")}));
}

TEST(MatchFinder, RunOfEqualBytesStartsMatchingAtTheThirdByte) {
  EXPECT_EQ(parse(std::vector<std::uint8_t>(300, 'a'), 8),
            join({literals("aa"), {match(258, 1), match(40, 1)}}));
}

TEST(MatchFinder, FirstByteOfTheMemberNeverStartsAMatchSource) {
  // The second "abc" cannot refer back to position 0; the match starts one
  // byte later instead.
  for (int level : {1, 8}) {
    EXPECT_EQ(parse(test::bytes_of("abcabcabc"), level), join({literals("abca"), {match(5, 3)}}))
        << "level " << level;
  }
}

TEST(MatchFinder, ShortAndTinyInputsAreLiterals) {
  for (int level = 1; level <= 8; ++level) {
    EXPECT_EQ(parse(test::bytes_of("x"), level), literals("x"));
    EXPECT_EQ(parse(test::bytes_of("xy"), level), literals("xy"));
  }
}

// Filler of bytes 0..127 whose 3-byte strings never repeat within the test's
// distances; markers use bytes from 128 up so they only match each other.
std::vector<std::uint8_t> filler(std::size_t size) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t i = 0; out.size() < size; ++i) {
    out.push_back(static_cast<std::uint8_t>(i & 0x7F));
    out.push_back(static_cast<std::uint8_t>((i >> 7) & 0x7F));
  }
  out.resize(size);
  return out;
}

// Member: one filler byte, marker, filler, marker again `distance` bytes after
// the first, one filler byte.
std::vector<std::uint8_t> marker_at_distance(const std::vector<std::uint8_t>& marker,
                                             std::size_t distance) {
  std::vector<std::uint8_t> input;
  input.reserve(distance + marker.size() + 2);
  input.push_back(0x41);
  input.insert(input.end(), marker.begin(), marker.end());
  const auto gap = filler(distance - marker.size());
  input.insert(input.end(), gap.begin(), gap.end());
  input.insert(input.end(), marker.begin(), marker.end());
  input.push_back(0x42);
  return input;
}

bool has_match(const std::vector<Symbol>& symbols, int length, int distance) {
  for (const auto& s : symbols) {
    if (s.length == length && s.distance == distance) {
      return true;
    }
  }
  return false;
}

TEST(MatchFinder, FarThreeByteMatchIsDroppedOnlyByTheLazyParse) {
  const std::vector<std::uint8_t> marker = {0xF1, 0xF2, 0xF3};
  EXPECT_FALSE(has_match(parse(marker_at_distance(marker, 4097), 8), 3, 4097));
  EXPECT_TRUE(has_match(parse(marker_at_distance(marker, 4096), 8), 3, 4096));
  EXPECT_TRUE(has_match(parse(marker_at_distance(marker, 4097), 1), 3, 4097));
}

TEST(MatchFinder, NoMatchReachesFartherThan32506Bytes) {
  const std::vector<std::uint8_t> marker = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
                                            0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF};
  for (int level : {1, 8}) {
    EXPECT_TRUE(has_match(parse(marker_at_distance(marker, 32506), level), 16, 32506));
    const auto far = parse(marker_at_distance(marker, 32507), level);
    for (const auto& s : far) {
      EXPECT_LT(s.length, 16) << "level " << level;
    }
  }
}

TEST(MatchFinder, LevelOutsideOneToEightFailsTheMemberButStaysSafe) {
  const auto text = test::english_text(100000, 12);
  for (int level : {0, 9, -3}) {
    const auto out = test::compress(text, level);
    EXPECT_STREQ(out.error_text, "bad pack level") << "level " << level;
    EXPECT_TRUE(test::decode_deflate(out.bytes).bytes == text) << "level " << level;
  }
}

TEST(MatchFinder, ChainHeadsPointingAheadFailTheMemberAndAreNeverFollowed) {
  test::HarnessOptions options;
  options.after_init = [](FlateState* state) {
    for (auto& head : state->chain_head) {
      head = 40000;  // read already, but far ahead of the parse
    }
  };
  const auto text = test::english_text(100000, 5);
  for (int level : {1, 8}) {
    const auto out = test::compress(text, level, options);
    EXPECT_STREQ(out.error_text, "no future") << "level " << level;
    EXPECT_TRUE(test::decode_deflate(out.bytes).bytes == text) << "level " << level;
  }
}

}  // namespace
}  // namespace vaultwick
