#include "deflate/detail/block_coder.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "deflate/detail/bit_writer.h"
#include "tests/deflate/flate_harness.h"
#include "tests/deflate/symbol_decoder.h"
#include "tests/deflate/zlib_oracle.h"

namespace vaultwick {
namespace {

using test::compress;

TEST(BlockCoder, EmptyMemberIsOneFixedBlockWithOnlyEndOfBlock) {
  for (int level = 1; level <= 8; ++level) {
    const auto out = compress({}, level);
    EXPECT_EQ(out.bytes, (std::vector<std::uint8_t>{0x03, 0x00})) << "level " << level;
    EXPECT_EQ(out.returned_size, 2u);
    EXPECT_EQ(out.error_text, nullptr);
  }
}

TEST(BlockCoder, ThreeHundredEqualBytesGiveTheKnownSevenBytes) {
  const auto out = compress(std::vector<std::uint8_t>(300, 0x61), 8);
  // 011 final fixed block; 'a' 'a'; length 258 (code 285) distance 1;
  // length 40 (code 274 + 3 extra) distance 1; end of block.
  EXPECT_EQ(out.bytes, (std::vector<std::uint8_t>{0x4B, 0x4C, 0x1C, 0x05, 0xC4, 0x02, 0x00}));
  EXPECT_EQ(out.returned_size, 7u);
  EXPECT_EQ(out.error_text, nullptr);
}

struct CollectingSink {
  std::vector<std::uint8_t> bytes;
};

bool collect(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* sink = static_cast<CollectingSink*>(param);
  sink->bytes.insert(sink->bytes.end(), data, data + *count);
  *count = 0;
  return true;
}

TEST(BlockCoder, SkewedFrequenciesAreLimitedToFifteenBits) {
  // Literal frequencies 1, 2, 3, 5, 8, ... beside the end-of-block code's 1:
  // every merge takes the tree built so far and the next symbol, so an
  // unlimited Huffman tree would give the rarest symbols codes of 20 bits.
  CollectingSink sink;
  std::vector<std::uint8_t> buffer(16384);
  auto state = std::make_unique<FlateState>();
  state->param = &sink;
  state->pack_level = 8;
  state->write_output = collect;
  bits_init(state.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  ct_init(state.get());
  state->cur_pos = 0;
  state->block_origin = 0;

  std::vector<std::uint8_t> expected;
  std::uint32_t a = 1;
  std::uint32_t b = 2;
  for (int symbol = 0; symbol < 20; ++symbol) {
    for (std::uint32_t i = 0; i < a; ++i) {
      expected.push_back(static_cast<std::uint8_t>('A' + symbol));
    }
    const std::uint32_t next = a + b;
    a = b;
    b = next;
  }
  ASSERT_LT(expected.size(), 32767u);
  for (std::uint8_t c : expected) {
    ASSERT_FALSE(ct_tally(state.get(), 0, c));
  }
  state->cur_pos = static_cast<std::uint32_t>(expected.size());
  close_block(state.get(), nullptr, state->cur_pos, 1);

  EXPECT_EQ(state->error_text, nullptr);
  int longest = 0;
  for (int n = 0; n < 256; ++n) {
    longest = std::max<int>(longest, state->lit_tree[n].len);
  }
  EXPECT_EQ(longest, 15);
  const auto decoded = test::decode_deflate(sink.bytes);
  ASSERT_TRUE(decoded.ok) << decoded.failure;
  EXPECT_EQ(decoded.block_types, std::vector<int>{2});
  EXPECT_EQ(decoded.bytes, expected);
  EXPECT_EQ(test::zlib_inflate_raw(sink.bytes), expected);
}

TEST(BlockCoder, IncompressibleDataIsStoredInItsLongestBlocks) {
  const auto input = test::random_bytes(100000, 11);
  const auto out = compress(input, 8);
  const auto decoded = test::decode_deflate(out.bytes);
  ASSERT_TRUE(decoded.ok) << decoded.failure;
  EXPECT_EQ(decoded.bytes, input);
  EXPECT_EQ(decoded.block_types, (std::vector<int>{0, 0, 0, 0}));
  // Per stored block: 1 header byte (3 bits, aligned), LEN, NLEN.
  EXPECT_EQ(out.returned_size, input.size() + 4 * 5);
}

TEST(BlockCoder, BlockWhoseStartSlidOutOfTheWindowIsNeverStored) {
  // Level 1 never ends a block early, so the block that starts with the run
  // of equal bytes reaches 32767 symbols deep into the random bytes and
  // outlives the slide of the window: it must be coded, not stored.
  std::vector<std::uint8_t> input(60000, 'a');
  const auto tail = test::random_bytes(100000, 5);
  input.insert(input.end(), tail.begin(), tail.end());
  const auto out = compress(input, 1);
  EXPECT_EQ(out.error_text, nullptr);
  const auto decoded = test::decode_deflate(out.bytes);
  ASSERT_TRUE(decoded.ok) << decoded.failure;
  EXPECT_EQ(decoded.bytes, input);
  ASSERT_GE(decoded.block_types.size(), 2u);
  EXPECT_NE(decoded.block_types[0], 0);
  EXPECT_EQ(decoded.block_types[1], 0);
}

}  // namespace
}  // namespace vaultwick
