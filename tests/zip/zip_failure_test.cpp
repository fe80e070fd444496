// Every failure of the writer that a caller can provoke, and what it leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "tests/zip/zip_test_support.h"
#include "zip/detail/zip_writer_internal.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;

std::string archiveBytes(ZipHandle* handle) {
  void* memory = nullptr;
  std::uint32_t length = 0;
  EXPECT_EQ(getZipWriterMemory(handle, &memory, &length), ZipResult::Ok);
  return std::string(static_cast<const char*>(memory), length);
}

TEST(ZipFailures, NullHandleAndWrongTag) {
  EXPECT_EQ(addZipMember(nullptr, "a", nullptr, 0, ZipSourceKind::Folder), ZipResult::BadArguments);
  EXPECT_EQ(lastZipResult.load(), ZipResult::BadArguments);
  void* memory = reinterpret_cast<void*>(1);
  std::uint32_t length = 7;
  EXPECT_EQ(getZipWriterMemory(nullptr, &memory, &length), ZipResult::BadArguments);
  EXPECT_EQ(memory, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(closeZipWriter(nullptr), ZipResult::BadArguments);

  ZipHandle foreign;
  foreign.tag = 7;
  EXPECT_EQ(addZipMember(&foreign, "a", nullptr, 0, ZipSourceKind::Folder), ZipResult::WrongMode);
  EXPECT_EQ(getZipWriterMemory(&foreign, &memory, &length), ZipResult::WrongMode);
  EXPECT_EQ(closeZipWriter(&foreign), ZipResult::WrongMode);
  EXPECT_EQ(lastZipResult.load(), ZipResult::WrongMode);
}

TEST(ZipFailures, WritersThatCannotBeOpened) {
  ScratchDir dir;
  EXPECT_EQ(openZipWriter(dir.path("x.zip").c_str(), 0, static_cast<ZipTargetKind>(9)), nullptr);
  EXPECT_EQ(lastZipResult.load(), ZipResult::BadArguments);
  EXPECT_EQ(openZipWriter(dir.path("no/such/x.zip").c_str(), 0, ZipTargetKind::FileName), nullptr);
  EXPECT_EQ(lastZipResult.load(), ZipResult::CannotOpen);
  const int closed = 1000;
  EXPECT_EQ(openZipWriter(&closed, 0, ZipTargetKind::Handle), nullptr);
  EXPECT_EQ(lastZipResult.load(), ZipResult::DuplicateFailed);
  char block[16];
  EXPECT_EQ(openZipWriter(block, 0, ZipTargetKind::Memory), nullptr);
  EXPECT_EQ(lastZipResult.load(), ZipResult::MemoryTooSmall);
  EXPECT_EQ(openZipWriter(block, 16, ZipTargetKind::Memory, 9), nullptr);
  EXPECT_EQ(lastZipResult.load(), ZipResult::BadArguments);
}

TEST(ZipFailures, BadMembersWriteNothing) {
  ScratchDir dir;
  std::vector<char> block(4096);
  ZipHandle* handle = openZipWriter(block.data(), 4096, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  const int invalid = -1;
  const int closed = 1000;
  const std::string longName(260, 'n');
  const struct {
    const char* name;
    const void* source;
    std::uint32_t size;
    ZipSourceKind kind;
    ZipResult expected;
  } cases[] = {
      {"a", "x", 1, static_cast<ZipSourceKind>(0), ZipResult::BadArguments},
      {"a", "x", 1, static_cast<ZipSourceKind>(5), ZipResult::BadArguments},
      {"", "x", 1, ZipSourceKind::Memory, ZipResult::BadArguments},
      {nullptr, "x", 1, ZipSourceKind::Memory, ZipResult::BadArguments},
      {longName.c_str(), "x", 1, ZipSourceKind::Memory, ZipResult::BadArguments},
      {longName.c_str() + 1, nullptr, 0, ZipSourceKind::Folder, ZipResult::BadArguments},
      {"a", nullptr, 1, ZipSourceKind::Memory, ZipResult::BadArguments},
      {"a", "x", 0, ZipSourceKind::Memory, ZipResult::BadArguments},
      {"a", nullptr, 0, ZipSourceKind::FileName, ZipResult::BadArguments},
      {"a", nullptr, 0, ZipSourceKind::Handle, ZipResult::BadArguments},
      {"a", &invalid, 0, ZipSourceKind::Handle, ZipResult::BadArguments},
      {"a", &closed, 0, ZipSourceKind::Handle, ZipResult::BadArguments},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(addZipMember(handle, c.name, c.source, c.size, c.kind), c.expected)
        << static_cast<int>(c.kind);
  }
  const std::string missing = dir.path("missing.txt");
  EXPECT_EQ(addZipMember(handle, "m", missing.c_str(), 0, ZipSourceKind::FileName),
            ZipResult::CannotOpen);
  // Nothing reached the archive, and the writer still works.
  EXPECT_EQ(addZipMember(handle, "ok", "x", 1, ZipSourceKind::Memory), ZipResult::Ok);
  testing::ParsedArchive parsed;
  const std::string bytes = archiveBytes(handle);
  ASSERT_EQ(testing::parseArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                  0, parsed),
            "");
  ASSERT_EQ(parsed.members.size(), 1u);
  EXPECT_EQ(parsed.members[0].localHeaderOffset, 0u);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

TEST(ZipFailures, StickyErrorFailsLaterAdditionsButKeepsEarlierMembers) {
  ScratchDir dir;
  std::vector<char> block(400);
  ZipHandle* handle = openZipWriter(block.data(), 400, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "a.txt", "0123456789", 10, ZipSourceKind::Memory), ZipResult::Ok);
  const std::string big = testing::randomContent(1000, 1);
  EXPECT_EQ(addZipMember(handle, "big.zip", big.data(), 1000, ZipSourceKind::Memory),
            ZipResult::MemoryTooSmall);
  EXPECT_EQ(addZipMember(handle, "c.txt", "x", 1, ZipSourceKind::Memory), ZipResult::PreviousError);
  const std::string bytes = archiveBytes(handle);
  EXPECT_EQ(addZipMember(handle, "d.txt", "x", 1, ZipSourceKind::Memory), ZipResult::PreviousError);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
  testing::writeFile(dir.path("sticky.zip"), bytes);
  EXPECT_EQ(testing::pythonExtract(dir.path("sticky.zip"), "a.txt"), "0123456789");
  EXPECT_EQ(testing::pythonListing(dir.path("sticky.zip")).find("big.zip"), std::string::npos);
}

TEST(ZipFailures, AfterFinishingAndOnAFileTarget) {
  ScratchDir dir;
  ZipHandle* handle = openZipWriter(dir.path("f.zip").c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "a.txt", "abc", 3, ZipSourceKind::Memory), ZipResult::Ok);
  void* memory = reinterpret_cast<void*>(1);
  std::uint32_t length = 0;
  EXPECT_EQ(getZipWriterMemory(handle, &memory, &length), ZipResult::NotMemoryArchive);
  EXPECT_EQ(memory, nullptr);
  EXPECT_EQ(length, testing::readFile(dir.path("f.zip")).size());
  EXPECT_EQ(addZipMember(handle, "b.txt", "abc", 3, ZipSourceKind::Memory),
            ZipResult::AlreadyEnded);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
  EXPECT_FALSE(testing::pythonListing(dir.path("f.zip")).empty());
}

TEST(ZipFailures, FullDeviceFailsOnlyTheMemberInProgress) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) {
    GTEST_SKIP() << "no /dev/full";
  }
  ZipHandle* handle = openZipWriter(&full, 0, ZipTargetKind::Handle);
  close(full);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(addZipMember(handle, "a.txt", "abc", 3, ZipSourceKind::Memory), ZipResult::WriteFailed);
  EXPECT_EQ(addZipMember(handle, "b.gz", "abc", 3, ZipSourceKind::Memory), ZipResult::WriteFailed);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::WriteFailed);
}

// A failed check inside the compressor is the compressor's failure, not a write error.
TEST(ZipFailures, CompressorFailureIsReportedAsSuch) {
  char block[4096] = {};
  ZipHandle* handle = openZipWriter(block, sizeof block, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  handle->writer->packLevel = 0;  // the compressor records "bad pack level"
  EXPECT_EQ(addZipMember(handle, "a.txt", "abc", 3, ZipSourceKind::Memory),
            ZipResult::DeflateFailed);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

// A source that cannot be read, a file not as long as it said, and the archive's own
// file each fail their member, which stays out of the directory.
TEST(ZipFailures, SourcesThatCannotBeReadWholeOrAreTheArchiveItself) {
  ScratchDir dir;
  const std::string archive = dir.path("a.zip");
  const std::string content = testing::textContent(120000, 3);
  testing::writeFile(dir.path("data.sql"), content);
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  const int writeOnly = open(dir.path("data.sql").c_str(), O_WRONLY);
  ASSERT_GE(writeOnly, 0);
  EXPECT_EQ(addZipMember(handle, "deflated.sql", &writeOnly, 0, ZipSourceKind::Handle),
            ZipResult::ReadFailed);
  EXPECT_EQ(addZipMember(handle, "stored.gz", &writeOnly, 0, ZipSourceKind::Handle),
            ZipResult::ReadFailed);
  close(writeOnly);
  // The file system says 0 bytes, reading gives more.
  EXPECT_EQ(addZipMember(handle, "status", "/proc/self/status", 0, ZipSourceKind::FileName),
            ZipResult::SizeMismatch);
  EXPECT_EQ(addZipMember(handle, "self.sql", archive.c_str(), 0, ZipSourceKind::FileName),
            ZipResult::BadArguments);
  EXPECT_EQ(
      addZipMember(handle, "data.sql", dir.path("data.sql").c_str(), 0, ZipSourceKind::FileName),
      ZipResult::Ok);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
  const std::string listing = testing::pythonListing(archive);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << listing;
  EXPECT_EQ(testing::pythonExtract(archive, "data.sql"), content);
}

// A stored member of unknown size cannot go to a pipe: its header is out before its
// length is known, and nothing can go back to correct it.
TEST(ZipFailures, StoredMemberOfUnknownSizeFromAPipeToAPipe) {
  int target[2];
  ASSERT_EQ(pipe(target), 0);
  std::string output;
  std::thread drain([&] {
    char chunk[4096];
    ssize_t got;
    while ((got = read(target[0], chunk, sizeof chunk)) > 0) {
      output.append(chunk, static_cast<std::size_t>(got));
    }
  });
  ZipHandle* handle = openZipWriter(&target[1], 0, ZipTargetKind::Handle);
  ASSERT_NE(handle, nullptr);
  auto addFromPipe = [&](const char* name, const std::string& content, std::uint32_t hint) {
    int source[2];
    EXPECT_EQ(pipe(source), 0);
    EXPECT_EQ(write(source[1], content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    close(source[1]);
    const ZipResult result = addZipMember(handle, name, &source[0], hint, ZipSourceKind::Handle);
    close(source[0]);
    return result;
  };
  EXPECT_EQ(addFromPipe("unknown.gz", "some bytes", 0), ZipResult::MethodChanged);
  EXPECT_EQ(addFromPipe("hinted.gz", "some bytes", 10), ZipResult::Ok);
  EXPECT_EQ(addFromPipe("wrong-hint.gz", "some bytes", 4), ZipResult::MethodChanged);
  EXPECT_EQ(addFromPipe("empty.gz", "", 0), ZipResult::Ok);
  EXPECT_EQ(addFromPipe("deflated.txt", "some bytes", 0), ZipResult::Ok);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
  close(target[1]);
  drain.join();
  close(target[0]);

  ScratchDir dir;
  testing::writeFile(dir.path("p.zip"), output);
  const std::string listing = testing::pythonListing(dir.path("p.zip"));
  EXPECT_EQ(listing.find("unknown.gz"), std::string::npos);
  EXPECT_NE(listing.find("hinted.gz"), std::string::npos);
  EXPECT_NE(listing.find("empty.gz"), std::string::npos);
  EXPECT_EQ(testing::pythonExtract(dir.path("p.zip"), "deflated.txt"), "some bytes");
}

}  // namespace
}  // namespace vaultwick
