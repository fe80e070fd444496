#include "platform/free_room.h"

#include <gtest/gtest.h>

#include <limits>

namespace vaultwick {
namespace {

TEST(FreeRoomTest, ExpectsTheLastArchiveWithATenthMoreElseTheDataLength) {
  constexpr std::uint64_t kSlack = 1 << 20;
  EXPECT_EQ(ExpectedArchiveBytes(1000, 999999), 1100 + kSlack);
  EXPECT_EQ(ExpectedArchiveBytes(0, 999999), kSlack);
  EXPECT_EQ(ExpectedArchiveBytes(std::nullopt, 5000), 5000 + kSlack);
}

TEST(FreeRoomTest, NamesTheFolderAndBothFiguresWhenShort) {
  EXPECT_EQ(RoomShortage("/", 0), "");
  EXPECT_EQ(RoomShortage("/no/such/folder", std::numeric_limits<std::uint64_t>::max()), "")
      << "room that cannot be told is left to the write to report";
  const std::string cause = RoomShortage("/", std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(cause.rfind("Not enough room in /: 16.0 EiB (18446744073709551615 bytes) needed, ", 0),
            0u)
      << cause;
  EXPECT_NE(cause.find(" free"), std::string::npos) << cause;
}

TEST(FreeRoomTest, WritesByteCountsForPeople) {
  EXPECT_EQ(ByteCountText(0), "0 bytes");
  EXPECT_EQ(ByteCountText(1), "1 byte");
  EXPECT_EQ(ByteCountText(1023), "1023 bytes");
  EXPECT_EQ(ByteCountText(1024), "1.0 KiB (1024 bytes)");
  EXPECT_EQ(ByteCountText(1363148), "1.3 MiB (1363148 bytes)");
}

}  // namespace
}  // namespace vaultwick
