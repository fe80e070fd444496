#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/deflate/flate_harness.h"
#include "tests/deflate/symbol_decoder.h"
#include "tests/deflate/zlib_oracle.h"

namespace vaultwick {
namespace {

struct NamedInput {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<NamedInput> inputs() {
  std::vector<NamedInput> all;
  all.push_back({"empty", {}});
  all.push_back({"one byte", {0x00}});
  all.push_back({"two bytes", {0xFF, 0xFF}});
  all.push_back({"three equal bytes", {7, 7, 7}});
  all.push_back({"text", test::english_text(50000, 1)});
  all.push_back({"source code", test::source_code(70000)});
  all.push_back({"random", test::random_bytes(70000, 2)});
  all.push_back({"long run", std::vector<std::uint8_t>(200000, 0)});
  all.push_back({"skewed", test::skewed_bytes(120000)});
  all.push_back({"binary records", test::binary_records(100000)});
  for (std::size_t size : {65273u, 65274u, 65275u, 65536u, 65537u, 98304u, 131072u}) {
    all.push_back({"text of " + std::to_string(size), test::english_text(size, 3)});
  }
  // Text and random bytes in turns: blocks of every kind next to each other.
  std::vector<std::uint8_t> mixed;
  for (std::uint32_t i = 0; i < 8; ++i) {
    const auto part =
        i % 2 ? test::random_bytes(20000 + 3000 * i, i) : test::english_text(30000, i);
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  all.push_back({"mixed", mixed});
  return all;
}

void expect_round_trip(const std::vector<std::uint8_t>& input, int level, const std::string& name,
                       const test::HarnessOptions& options = {}) {
  SCOPED_TRACE(name + " at level " + std::to_string(level));
  const auto out = test::compress(input, level, options);
  EXPECT_EQ(out.error_text, nullptr);
  EXPECT_EQ(out.returned_size, out.bytes.size());
  const auto inflated = test::zlib_inflate_raw(out.bytes);
  ASSERT_TRUE(inflated.has_value());
  EXPECT_TRUE(*inflated == input);
}

TEST(RoundTrip, EveryLevelGivesBackEveryInput) {
  const auto all = inputs();
  for (int level = 1; level <= 8; ++level) {
    for (const auto& input : all) {
      expect_round_trip(input.bytes, level, input.name);
    }
  }
}

TEST(RoundTrip, OurDecoderAgreesWithZlib) {
  for (const auto& input : inputs()) {
    const auto out = test::compress(input.bytes, 8);
    const auto decoded = test::decode_deflate(out.bytes);
    ASSERT_TRUE(decoded.ok) << input.name << ": " << decoded.failure;
    EXPECT_TRUE(decoded.bytes == input.bytes) << input.name;
  }
}

TEST(RoundTrip, SeveralMebibytesInOneMember) {
  std::vector<std::uint8_t> big = test::english_text(3 << 20, 9);
  const auto code = test::source_code(1 << 20);
  big.insert(big.end(), code.begin(), code.end());
  for (int level : {1, 3, 4, 8}) {
    expect_round_trip(big, level, "4 MiB");
  }
}

// The compressor reads until its window is full, so the stream depends on the
// member's bytes only, never on how the caller's function hands them out.
TEST(RoundTrip, InputArrivingInSmallPiecesGivesTheSameStream) {
  const auto text = test::english_text(200000, 4);
  for (int level : {2, 8}) {
    const auto whole = test::compress(text, level);
    for (std::uint32_t piece : {1u, 7u, 300u, 4096u}) {
      test::HarnessOptions options;
      options.read_piece = piece;
      const auto out = test::compress(text, level, options);
      EXPECT_EQ(out.error_text, nullptr);
      EXPECT_TRUE(out.bytes == whole.bytes) << "level " << level << ", pieces of " << piece;
    }
  }
}

TEST(RoundTrip, MaximumLevelSetsTheMaximumCompressionFlag) {
  EXPECT_EQ(test::compress({}, 8).flags, 0x0002);
  EXPECT_EQ(test::compress({}, 1).flags, 0x0004);
  EXPECT_EQ(test::compress({}, 2).flags, 0x0004);
  EXPECT_EQ(test::compress({}, 5).flags, 0x0000);
}

}  // namespace
}  // namespace vaultwick
