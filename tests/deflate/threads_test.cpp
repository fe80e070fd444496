#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/deflate/flate_harness.h"

namespace vaultwick {
namespace {

TEST(Threads, TwoMembersAtOnceGiveTheSameBytesAsOneAfterTheOther) {
  const auto first = test::english_text(1 << 20, 31);
  const auto second = test::source_code(1 << 20);
  const auto first_alone = test::compress(first, 8);
  const auto second_alone = test::compress(second, 4);

  test::Compressed first_together;
  test::Compressed second_together;
  std::thread a([&] { first_together = test::compress(first, 8); });
  std::thread b([&] { second_together = test::compress(second, 4); });
  a.join();
  b.join();

  EXPECT_EQ(first_together.error_text, nullptr);
  EXPECT_EQ(second_together.error_text, nullptr);
  EXPECT_TRUE(first_together.bytes == first_alone.bytes);
  EXPECT_TRUE(second_together.bytes == second_alone.bytes);
}

}  // namespace
}  // namespace vaultwick
