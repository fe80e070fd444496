#include "deflate/detail/bit_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vaultwick {
namespace {

// Collects what the bit writer hands over; can refuse every write.
struct Sink {
  std::vector<std::vector<std::uint8_t>> calls;
  bool refuse = false;
};

bool sink_write(void* param, const std::uint8_t* data, std::uint32_t* count) {
  auto* sink = static_cast<Sink*>(param);
  sink->calls.emplace_back(data, data + *count);
  if (sink->refuse) {
    return false;
  }
  *count = 0;
  return true;
}

struct BitWriterTest : ::testing::Test {
  void SetUp() override {
    state->param = &sink;
    state->write_output = sink_write;
    bits_init(state.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  }
  std::vector<std::uint8_t> received() const {
    std::vector<std::uint8_t> all;
    for (const auto& call : sink.calls) {
      all.insert(all.end(), call.begin(), call.end());
    }
    return all;
  }
  Sink sink;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(16);
  std::unique_ptr<FlateState> state = std::make_unique<FlateState>();
};

TEST_F(BitWriterTest, PacksFromTheLeastSignificantBitUp) {
  write_bits(state.get(), 3, 3);
  write_bits(state.get(), 0, 7);
  bits_align(state.get());
  EXPECT_EQ(received(), (std::vector<std::uint8_t>{0x03, 0x00}));
  EXPECT_EQ(state->bits_total, 16u);
  EXPECT_EQ(state->error_text, nullptr);
}

TEST_F(BitWriterTest, SixteenBitsWaitAndTheSeventeenthStoresTwoBytes) {
  write_bits(state.get(), 0x1234, 15);
  write_bits(state.get(), 1, 1);
  EXPECT_EQ(state->obuf_used, 0u);
  write_bits(state.get(), 1, 1);
  EXPECT_EQ(state->obuf_used, 2u);
  EXPECT_EQ(buffer[0], 0x34);
  EXPECT_EQ(buffer[1], 0x92);  // 0x12 | bit 15 from the second value
  EXPECT_EQ(state->bit_fill, 1);
  EXPECT_EQ(state->bit_acc, 1u);
}

TEST_F(BitWriterTest, AlignWithNothingPendingStillCallsTheOutput) {
  bits_align(state.get());
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_TRUE(sink.calls[0].empty());
}

TEST_F(BitWriterTest, EmptyStoredBlockStillHasLenAndNlen) {
  write_bits(state.get(), 1, 3);  // final stored block header
  put_stored(state.get(), buffer.data(), 0);
  EXPECT_EQ(received(), (std::vector<std::uint8_t>{0x01, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(state->bits_total, 40u);
}

TEST_F(BitWriterTest, StoredBytesGoStraightFromTheCallersData) {
  const std::vector<std::uint8_t> data = {'x', 'y', 'z'};
  write_bits(state.get(), 0x5, 5);
  put_stored(state.get(), data.data(), 3);
  ASSERT_EQ(sink.calls.size(), 3u);  // the waiting byte, LEN and NLEN, the data
  EXPECT_EQ(sink.calls[0], (std::vector<std::uint8_t>{0x05}));
  EXPECT_EQ(sink.calls[1], (std::vector<std::uint8_t>{0x03, 0x00, 0xFC, 0xFF}));
  EXPECT_EQ(sink.calls[2], data);
  EXPECT_EQ(state->bits_total, 8u + 32u + 24u);
}

TEST_F(BitWriterTest, FullBufferIsHandedOverBeforeTheNextStore) {
  // 16-byte buffer: a two-byte store hands it over when 15 or 16 bytes wait.
  for (int i = 0; i < 19; ++i) {  // the ninth two-byte store finds 16 waiting
    write_bits(state.get(), 0xFF, 8);
  }
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].size(), 16u);
}

TEST_F(BitWriterTest, BadLengthIsRecordedAndTheBitsStillCount) {
  write_bits(state.get(), 0, 0);
  EXPECT_STREQ(state->error_text, "invalid length");
  write_bits(state.get(), 0x1FFFF, 17);
  EXPECT_EQ(state->bits_total, 16u);
}

TEST_F(BitWriterTest, RefusedWritesFailTheMemberWithoutOverrunningTheBuffer) {
  sink.refuse = true;
  for (int i = 0; i < 1000; ++i) {
    write_bits(state.get(), 0x7FFF, 15);
    ASSERT_LE(state->obuf_used, state->obuf_cap);
  }
  const std::vector<std::uint8_t> data(100, 7);
  put_stored(state.get(), data.data(), 100);
  EXPECT_LE(state->obuf_used, state->obuf_cap);
  EXPECT_STREQ(state->error_text, "output write failed");
}

}  // namespace
}  // namespace vaultwick
