// Archives past the classic limits: a member of more than 4 GiB (from a sparse
// file, so the source costs no disk, or from a pipe, whose size nobody knows
// before its end), offsets beyond 4 GiB, more than 65535 members. Each must
// read back in zipfile, bsdtar and 7z, and ZIP64 records must appear only
// where a value does not fit.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include "tests/zip/zip_test_support.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;
using testing::shellQuote;

constexpr std::uint64_t kBigSize = (std::uint64_t{4} << 30) + 1000;

bool enoughDisk(const std::string& folder) {
  struct statvfs info {};
  return statvfs(folder.c_str(), &info) == 0 &&
         static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize > 3 * kBigSize;
}

// A sparse file of kBigSize bytes with a few marked bytes at both ends.
void makeBigSparseFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kBigSize)), 0);
  ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
  ASSERT_EQ(pwrite(fd, "tail", 4, static_cast<off_t>(kBigSize - 4)), 4);
  close(fd);
}

// The whole archive file mapped and parsed (too large to read into a string).
class MappedArchive {
 public:
  explicit MappedArchive(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    size_ = static_cast<std::size_t>(lseek(fd, 0, SEEK_END));
    void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    EXPECT_NE(mapped, MAP_FAILED);
    bytes_ = mapped != MAP_FAILED ? static_cast<const std::uint8_t*>(mapped) : nullptr;
    if (bytes_ != nullptr) {
      error_ = testing::parseArchive(bytes_, size_, 0, parsed_);
    }
  }
  ~MappedArchive() {
    if (bytes_ != nullptr) {
      munmap(const_cast<std::uint8_t*>(bytes_), size_);
    }
  }
  MappedArchive(const MappedArchive&) = delete;
  MappedArchive& operator=(const MappedArchive&) = delete;

  const std::string& error() const { return error_; }
  const testing::ParsedArchive& parsed() const { return parsed_; }
  // `count` bytes at `offset` of the file.
  std::string at(std::uint64_t offset, std::size_t count) const {
    return std::string(reinterpret_cast<const char*>(bytes_ + offset), count);
  }

 private:
  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  testing::ParsedArchive parsed_;
  std::string error_ = "not mapped";
};

// A member past 4 GiB carries its sizes in a ZIP64 field of its local header as
// well, where a reader of the archive as a stream finds them.
void expectWideLocalHeader(const MappedArchive& archive, const testing::ParsedMember& large) {
  EXPECT_EQ(large.versionNeeded, 45);
  EXPECT_EQ(large.localExtraLength, 17 + 20);
  EXPECT_EQ(large.localFlags & 0x0008, 0);
  EXPECT_EQ(large.uncompressedSize, kBigSize);
  EXPECT_EQ(archive.at(large.localHeaderOffset + 18, 8), std::string(8, '\xFF'));
}

// Every reader gets `member` of `archive` back whole, with nothing to complain
// about: bsdtar from the central directory (compared with `original`), bsdtar
// reading the archive as a stream, and 7z; the last two check CRC and sizes.
void expectEveryReaderGetsBack(const std::string& archive, const std::string& member,
                               const std::string& original) {
  const std::string a = shellQuote(archive);
  const std::string m = shellQuote(member);
  for (const std::string& read :
       {"set -o pipefail; bsdtar -xOf " + a + " " + m + " 2>&1 | cmp - " + shellQuote(original),
        "cat " + a + " | bsdtar -xOf - " + m + " 2>&1 >/dev/null", "7z t " + a + " " + m}) {
    int status = 0;
    const std::string complaints = testing::runCommand("bash -c " + shellQuote(read), &status);
    EXPECT_EQ(status, 0) << read << "\n" << complaints;
    if (read.starts_with("cat")) {
      EXPECT_EQ(complaints, "") << read;
    }
  }
}

TEST(Zip64, StoredMemberPast4GiBAndOffsetsPast4GiB) {
  ScratchDir dir;
  if (!enoughDisk(dir.root())) {
    GTEST_SKIP() << "needs about 13 GiB free in " << dir.root();
  }
  const std::string big = dir.path("big.zip");
  makeBigSparseFile(big);
  const std::string archive = dir.path("large.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  const std::string text = testing::textContent(10000, 1);
  ASSERT_EQ(addZipMember(handle, "before.txt", text.data(), 10000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "big.zip", big.c_str(), 0, ZipSourceKind::FileName),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "after.txt", text.data(), 10000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);

  {
    const MappedArchive mapped(archive);
    ASSERT_EQ(mapped.error(), "");
    const testing::ParsedArchive& parsed = mapped.parsed();
    ASSERT_EQ(parsed.members.size(), 3u);
    EXPECT_TRUE(parsed.zip64EndRecord);
    const testing::ParsedMember& first = parsed.members[0];
    const testing::ParsedMember& large = parsed.members[1];
    const testing::ParsedMember& last = parsed.members[2];
    EXPECT_EQ(first.versionNeeded, 20);  // values that fit stay classic
    EXPECT_EQ(first.centralExtraLength, 9);
    expectWideLocalHeader(mapped, large);
    EXPECT_EQ(large.centralExtraLength, 9 + 4 + 16);  // both sizes
    EXPECT_EQ(large.compressedSize, kBigSize);
    EXPECT_GT(last.localHeaderOffset, kBigSize);
    EXPECT_EQ(last.centralExtraLength, 9 + 4 + 8);  // the offset alone
    EXPECT_EQ(last.versionNeeded, 45);
  }

  const std::string listing = testing::pythonListing(archive);
  EXPECT_NE(
      listing.find("big.zip\t0\t0\t" + std::to_string(kBigSize) + "\t" + std::to_string(kBigSize)),
      std::string::npos)
      << listing;
  EXPECT_EQ(testing::pythonExtract(archive, "after.txt"), text);
  EXPECT_EQ(testing::bsdtarExtract(archive, "after.txt"), text);
  EXPECT_NE(testing::bsdtarListing(archive).find(std::to_string(kBigSize)), std::string::npos);
  int status = 0;
  testing::runCommand("bsdtar -xOf " + shellQuote(archive) + " big.zip | cmp - " + shellQuote(big),
                      &status);
  EXPECT_EQ(status, 0);
}

// A stream's size is known only at its end, long after its local header went
// out without room for 8-byte sizes: its data is moved on to make that room.
// Zeros at the fastest level keep the archive small (and the test's disk use).
TEST(Zip64, StreamPast4GiBToAFileGetsTheSameHeadersAsAFileOfThatSize) {
  ScratchDir dir;
  if (!enoughDisk(dir.root())) {
    GTEST_SKIP() << "needs about 13 GiB free in " << dir.root();
  }
  const std::string big = dir.path("big.bin");
  makeBigSparseFile(big);
  const std::string archive = dir.path("stream.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName, 1);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "before.txt", "before", 6, ZipSourceKind::Memory), ZipResult::Ok);
  FILE* stream = popen(("cat " + shellQuote(big)).c_str(), "r");
  ASSERT_NE(stream, nullptr);
  const int fd = fileno(stream);
  EXPECT_EQ(addZipMember(handle, "big.bin", &fd, 0, ZipSourceKind::Handle), ZipResult::Ok);
  EXPECT_EQ(pclose(stream), 0);
  ASSERT_EQ(addZipMember(handle, "after.txt", "after", 5, ZipSourceKind::Memory), ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);

  {
    const MappedArchive mapped(archive);
    ASSERT_EQ(mapped.error(), "");
    ASSERT_EQ(mapped.parsed().members.size(), 3u);
    const testing::ParsedMember& large = mapped.parsed().members[1];
    expectWideLocalHeader(mapped, large);
    EXPECT_EQ(large.centralExtraLength, 9 + 4 + 8);  // the uncompressed size alone
    EXPECT_EQ(large.externalAttributes, 0x80000000u);
    EXPECT_EQ(mapped.parsed().members[2].localHeaderOffset,
              large.dataOffset + large.compressedSize);
  }
  expectEveryReaderGetsBack(archive, "big.bin", big);
  EXPECT_EQ(testing::bsdtarExtract(archive, "after.txt"), "after");
}

TEST(Zip64, KnownLargeSizeToAPipeGetsAWideDataDescriptor) {
  ScratchDir dir;
  if (!enoughDisk(dir.root())) {
    GTEST_SKIP() << "needs about 13 GiB free in " << dir.root();
  }
  const std::string big = dir.path("big.gz");
  makeBigSparseFile(big);
  // bsdtar reads the archive as a stream, as it arrives: local headers and descriptors only.
  const std::string listingFile = dir.path("listing.txt");
  FILE* reader = popen(("bsdtar -tvf - > " + shellQuote(listingFile)).c_str(), "w");
  ASSERT_NE(reader, nullptr);
  const int fd = fileno(reader);
  ZipHandle* handle = openZipWriter(&fd, 0, ZipTargetKind::Handle);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(addZipMember(handle, "big.gz", big.c_str(), 0, ZipSourceKind::FileName), ZipResult::Ok);
  EXPECT_EQ(addZipMember(handle, "after.txt", "after", 5, ZipSourceKind::Memory), ZipResult::Ok);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
  EXPECT_EQ(pclose(reader), 0);
  const std::string listing = testing::readFile(listingFile);
  EXPECT_NE(listing.find(std::to_string(kBigSize)), std::string::npos) << listing;
  EXPECT_NE(listing.find("after.txt"), std::string::npos) << listing;
}

TEST(Zip64, MoreThan65535MembersGetAZip64EndRecord) {
  ScratchDir dir;
  constexpr int kCount = 70000;
  ZipHandle* handle = openZipWriter(nullptr, 32 << 20, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  for (int i = 0; i < kCount; ++i) {
    const std::string name = std::string("d").append(std::to_string(i));
    ASSERT_EQ(addZipMember(handle, name.c_str(), nullptr, 0, ZipSourceKind::Folder), ZipResult::Ok);
  }
  void* memory = nullptr;
  std::uint32_t length = 0;
  ASSERT_EQ(getZipWriterMemory(handle, &memory, &length), ZipResult::Ok);
  testing::ParsedArchive parsed;
  ASSERT_EQ(testing::parseArchive(static_cast<const std::uint8_t*>(memory), length, 0, parsed), "");
  EXPECT_TRUE(parsed.zip64EndRecord);
  EXPECT_EQ(parsed.members.size(), static_cast<std::size_t>(kCount));
  const std::string archive = dir.path("many.zip");
  testing::writeFile(archive, std::string(static_cast<const char*>(memory), length));
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);

  int status = 0;
  const std::string count = testing::runCommand(
      "python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' " +
          shellQuote(archive),
      &status);
  EXPECT_EQ(count, std::to_string(kCount) + "\n");
  const std::string tarCount =
      testing::runCommand("bsdtar -tf " + shellQuote(archive) + " | wc -l", &status);
  EXPECT_EQ(std::stoi(tarCount), kCount);
}

}  // namespace
}  // namespace vaultwick
