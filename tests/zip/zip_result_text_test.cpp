#include <gtest/gtest.h>

#include <cstring>

#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

TEST(ZipResultText, CopiesWholeTextWhenItFits) {
  char buffer[100];
  EXPECT_EQ(zipResultText(ZipResult::WriteFailed, buffer, sizeof buffer), 21u);
  EXPECT_STREQ(buffer, "Error writing to file");
  EXPECT_EQ(zipResultMessage(ZipResult::WriteFailed), "Error writing to file");
}

TEST(ZipResultText, CutsToBufferAndStillReportsFullLength) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(zipResultText(ZipResult::WriteFailed, buffer, 6), 21u);
  EXPECT_STREQ(buffer, "Error");
  EXPECT_EQ(buffer[6], 'x');  // nothing past the given size

  EXPECT_EQ(zipResultText(ZipResult::WriteFailed, buffer, 1), 21u);
  EXPECT_EQ(buffer[0], '\0');
  buffer[0] = 'x';
  EXPECT_EQ(zipResultText(ZipResult::WriteFailed, buffer, 0), 21u);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(zipResultText(ZipResult::WriteFailed, nullptr, 100), 21u);
}

TEST(ZipResultText, EveryCodeHasItsExactText) {
  const struct {
    std::uint32_t code;
    const char* text;
  } expected[] = {
      {0x0, "Success"},
      {0x100, "Culdn't duplicate handle"},
      {0x200, "Couldn't create/open file"},
      {0x300, "Failed to allocate memory"},
      {0x400, "Error writing to file"},
      {0x500, "File not found in the zipfile"},
      {0x600, "Still more data to unzip"},
      {0x700, "Zipfile is corrupt or not a zipfile"},
      {0x800, "Error reading file"},
      {0x10000, "Caller: faulty arguments"},
      {0x20000, "Caller: can only get memory of a memory zipfile"},
      {0x30000, "Caller: not enough space allocated for memory zipfile"},
      {0x40000, "Caller: there was a previous error"},
      {0x50000, "Caller: additions to the zip have already been ended"},
      {0x60000, "Zip-bug: the anticipated size turned out wrong"},
      {0x70000, "Caller: the file had already been partially unzipped"},
      {0x80000, "Caller: mixing creation and opening of zip"},
      {0x1000000, "Zip-bug: internal initialisation not completed"},
      {0x2000000, "Zip-bug: trying to seek the unseekable"},
      {0x4000000, "Zip-bug: tried to change mind, but not allowed"},
      {0x5000000, "Zip-bug: an internal error during flation"},
      {0x900, "unknown zip result code"},
      {0x90000, "unknown zip result code"},
      {0x3000000, "unknown zip result code"},
      {0x2, "unknown zip result code"},
  };
  for (const auto& row : expected) {
    char buffer[100];
    const std::uint32_t length = zipResultText(static_cast<ZipResult>(row.code), buffer, 100);
    EXPECT_STREQ(buffer, row.text) << std::hex << row.code;
    EXPECT_EQ(length, std::strlen(row.text));
  }
}

TEST(ZipResultText, RecentStandsForTheLastResult) {
  char buffer[100];
  lastZipResult.store(ZipResult::WriteFailed);
  zipResultText(ZipResult::Recent, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Error writing to file");

  std::uint8_t memory[256];
  ZipHandle* handle = openZipWriter(memory, sizeof memory, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  void* block = nullptr;
  std::uint32_t length = 0;
  EXPECT_EQ(getZipWriterMemory(handle, &block, &length), ZipResult::Ok);
  EXPECT_EQ(addZipMember(handle, "a", nullptr, 0, ZipSourceKind::Folder), ZipResult::AlreadyEnded);
  zipResultText(ZipResult::Recent, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Caller: additions to the zip have already been ended");
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

}  // namespace
}  // namespace vaultwick
