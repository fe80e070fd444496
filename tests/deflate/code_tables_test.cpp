#include "deflate/detail/code_tables.h"

#include <gtest/gtest.h>

#include <memory>

#include "deflate/detail/flate_limits.h"

namespace vaultwick {
namespace {

// RFC 1951, section 3.2.5, as printed there.
constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                               33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

int slow_reverse(int code, int n) {
  int r = 0;
  for (int i = 0; i < n; ++i) {
    if (code & (1 << i)) {
      r |= 1 << (n - 1 - i);
    }
  }
  return r;
}

struct CodeTablesTest : ::testing::Test {
  void SetUp() override { build_code_tables(state.get()); }
  std::unique_ptr<FlateState> state = std::make_unique<FlateState>();
};

TEST_F(CodeTablesTest, EveryMatchLengthMapsToItsRfcCode) {
  EXPECT_EQ(state->error_text, nullptr);
  for (int length = 3; length <= 258; ++length) {
    int code = 28;
    while (kLengthBase[code] > length) {
      --code;
    }
    ASSERT_EQ(state->len_code_of[length - 3], code) << "length " << length;
    ASSERT_EQ(state->len_base[code] + 3, kLengthBase[code]);
    ASSERT_LT(length - kLengthBase[code], 1 << len_extra[code]) << "length " << length;
  }
}

TEST_F(CodeTablesTest, EveryDistanceMapsToItsRfcCode) {
  for (int distance = 1; distance <= 32768; ++distance) {
    int code = 29;
    while (kDistBase[code] > distance) {
      --code;
    }
    const auto d = static_cast<std::uint32_t>(distance - 1);
    ASSERT_EQ(d_code(state.get(), d), static_cast<std::uint32_t>(code)) << "distance " << distance;
    ASSERT_EQ(state->dist_base[code] + 1, kDistBase[code]);
    ASSERT_LT(distance - kDistBase[code], 1 << dist_extra[code]);
  }
}

TEST_F(CodeTablesTest, FixedTreesHoldTheRfcCodesBitReversed) {
  // RFC 1951, section 3.2.6.
  for (int n = 0; n < 288; ++n) {
    int len;
    int code;
    if (n < 144) {
      len = 8, code = 0x30 + n;
    } else if (n < 256) {
      len = 9, code = 0x190 + n - 144;
    } else if (n < 280) {
      len = 7, code = n - 256;
    } else {
      len = 8, code = 0xC0 + n - 280;
    }
    ASSERT_EQ(state->fixed_lit_tree[n].len, len) << n;
    ASSERT_EQ(state->fixed_lit_tree[n].code, slow_reverse(code, len)) << n;
  }
  for (int n = 0; n < 30; ++n) {
    ASSERT_EQ(state->fixed_dist_tree[n].len, 5);
    ASSERT_EQ(state->fixed_dist_tree[n].code, slow_reverse(n, 5));
  }
}

}  // namespace
}  // namespace vaultwick
