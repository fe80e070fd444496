#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "tests/zip/zip_test_support.h"
#include "zip/detail/zip_member_facts.h"
#include "zip/detail/zip_names.h"
#include "zip/detail/zip_records.h"
#include "zip/detail/zip_time.h"
#include "zip/zip_crc32.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;

// Member times are made with the local zone; these tests fix it at UTC.
class UtcZone : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

std::vector<std::uint8_t> hexBytes(const char* hex) {
  std::vector<std::uint8_t> bytes;
  for (const char* p = hex; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    bytes.push_back(
        static_cast<std::uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    p += 2;
  }
  return bytes;
}

TEST(Crc32, TableMatchesTheBitwiseDefinition) {
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value >> 1) ^ ((value & 1) != 0 ? 0xEDB88320u : 0u);
    }
    ASSERT_EQ(crc32Table()[n], value) << n;
  }
}

TEST(Crc32, KnownValuesAndPiecewiseUpdate) {
  const auto* abc = reinterpret_cast<const std::uint8_t*>("abc");
  EXPECT_EQ(crc32Update(0, abc, 3), 0x352441C2u);
  EXPECT_EQ(crc32Update(0, nullptr, 10), 0u);
  const std::string text = testing::randomContent(100000, 7);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::uint32_t piecewise =
      crc32Update(crc32Update(0, bytes, 12345), bytes + 12345, text.size() - 12345);
  EXPECT_EQ(piecewise, testing::bitwiseCrc32(text));
  // Every start alignment and tail length of the eight-byte steps.
  for (std::size_t start = 0; start < 8; ++start) {
    for (std::size_t length = 0; length < 40; ++length) {
      ASSERT_EQ(crc32Update(0, bytes + start, length),
                testing::bitwiseCrc32(text.substr(start, length)))
          << start << " " << length;
    }
  }
  // Around the lengths where long buffers are folded 64 and 16 bytes at a time.
  for (const std::size_t length : {255, 256, 257, 271, 319, 320, 335, 4099}) {
    for (const std::size_t start : {0, 3}) {
      ASSERT_EQ(crc32Update(0, bytes + start, length),
                testing::bitwiseCrc32(text.substr(start, length)))
          << start << " " << length;
    }
  }
}

TEST(MemberNames, SuffixDecidesStoredOrDeflated) {
  for (const char* stored : {"a.gz", "PHOTO.ZIP", "a.z", ".gz", "x.TGZ", "x.tar.gz", "x.Z", "a.zoo",
                             "b.arc", "c.lzh", "d.arj", "dir/e.zip"}) {
    EXPECT_TRUE(isPrecompressedName(stored)) << stored;
  }
  for (const char* deflated :
       {"backup.zip.old", "dir.zip/readme", "x.gz.txt", "x", "zip", "dump.sql", "a.gzip", "a."}) {
    EXPECT_FALSE(isPrecompressedName(deflated)) << deflated;
  }
}

TEST(MemberNames, BackslashesBecomeSlashesAndFoldersGetOne) {
  ZipEntry entry;
  ASSERT_EQ(setMemberName(entry, "sub\\dir\\file.txt", false), ZipResult::Ok);
  EXPECT_STREQ(entry.name.data(), "sub/dir/file.txt");
  EXPECT_EQ(entry.nameLength, 16);
  ASSERT_EQ(setMemberName(entry, "data", true), ZipResult::Ok);
  EXPECT_STREQ(entry.name.data(), "data/");
  ASSERT_EQ(setMemberName(entry, "data\\", true), ZipResult::Ok);
  EXPECT_STREQ(entry.name.data(), "data/");
  ASSERT_EQ(setMemberName(entry, "/abs/c:x", false), ZipResult::Ok);
  EXPECT_STREQ(entry.name.data(), "/abs/c:x");  // nothing else about a name changes
}

TEST(MemberNames, NamesThatDoNotFitTheFieldAreRefused) {
  ZipEntry entry;
  EXPECT_EQ(setMemberName(entry, "", false), ZipResult::BadArguments);
  EXPECT_EQ(setMemberName(entry, nullptr, false), ZipResult::BadArguments);
  EXPECT_EQ(setMemberName(entry, std::string(259, 'n').c_str(), false), ZipResult::Ok);
  EXPECT_EQ(setMemberName(entry, std::string(260, 'n').c_str(), false), ZipResult::BadArguments);
  EXPECT_EQ(setMemberName(entry, std::string(258, 'n').c_str(), true), ZipResult::Ok);
  EXPECT_EQ(entry.nameLength, 259);
  EXPECT_EQ(setMemberName(entry, std::string(259, 'n').c_str(), true), ZipResult::BadArguments);
  EXPECT_EQ(setMemberName(entry, (std::string(258, 'n') + "/").c_str(), true), ZipResult::Ok);
}

TEST_F(UtcZone, TimesOutsideThe32BitRangeAreClampedKeepingTheTimeOfDay) {
  EXPECT_EQ(toUnixTime(CalendarTime{1965, 3, 4, 5, 6, 7}), 5u * 3600 + 6 * 60 + 7);
  // 2037-12-31 08:09:10 UTC
  EXPECT_EQ(toUnixTime(CalendarTime{2040, 6, 1, 8, 9, 10}), 2145830400u + 8 * 3600 + 9 * 60 + 10);
  EXPECT_EQ(toUnixTime(CalendarTime{2024, 1, 2, 3, 4, 6}), 0x65937D26u);
  EXPECT_EQ(dosStamp(CalendarTime{2024, 1, 2, 3, 4, 6}), 0x58221883u);
  EXPECT_EQ(dosStamp(CalendarTime{1975, 5, 5, 5, 5, 5}),
            dosStamp(CalendarTime{1980, 1, 1, 0, 0, 0}));
}

TEST_F(UtcZone, FileFactsFromModeSizeAndTimes) {
  ScratchDir dir;
  const std::string path = dir.path("plain.txt");
  testing::writeFile(path, "hello");
  chmod(path.c_str(), 0644);
  testing::setFileTime(path, 0x65937D26);
  MemberFacts facts;
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(readFileFacts(fd, facts), ZipResult::Ok);
  close(fd);
  EXPECT_EQ(facts.externalAttributes, 0x81800020u);
  EXPECT_EQ(facts.expectedSize, 5);
  EXPECT_EQ(facts.modificationTime, 0x65937D26u);
  EXPECT_EQ(facts.accessTime, 0x65937D26u);
  EXPECT_EQ(facts.creationTime, 0x65937D26u);
  EXPECT_EQ(facts.dosStamp, 0x58221883u);

  chmod(path.c_str(), 0444);
  fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(readFileFacts(fd, facts), ZipResult::Ok);
  close(fd);
  EXPECT_EQ(facts.externalAttributes, 0x81000021u);

  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  EXPECT_EQ(readFileFacts(pipeEnds[0], facts), ZipResult::NotInitialised);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST(FileFacts, ExecutableMarksNeedAHeaderBeyondFortyBytes) {
  ScratchDir dir;
  // "MZ", new-header offset 64 at 0x3C, "PE\0\0" at 64, room for 52 more bytes.
  std::string exe(200, '\0');
  exe[0] = 'M';
  exe[1] = 'Z';
  exe[0x3C] = 64;
  exe.replace(64, 4, std::string("PE\0\0", 4));
  const std::string path = dir.path("tool.exe");
  testing::writeFile(path, exe);
  chmod(path.c_str(), 0644);
  MemberFacts facts;
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(readFileFacts(fd, facts), ZipResult::Ok);
  close(fd);
  EXPECT_EQ(facts.externalAttributes, 0x81C00020u);

  exe.resize(40);  // too small to be looked at
  exe[0x20] = 'M';
  testing::writeFile(path, exe);
  fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(readFileFacts(fd, facts), ZipResult::Ok);
  close(fd);
  EXPECT_EQ(facts.externalAttributes, 0x81800020u);

  exe.assign(200, '\0');  // "MZ" but no known signature at the new header
  exe[0] = 'M';
  exe[1] = 'Z';
  exe[0x3C] = 64;
  exe.replace(64, 4, std::string("XY\0\0", 4));
  testing::writeFile(path, exe);
  fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(readFileFacts(fd, facts), ZipResult::Ok);
  close(fd);
  EXPECT_EQ(facts.externalAttributes, 0x81800020u);
}

TEST_F(UtcZone, WorkedExampleComesOutByteForByte) {
  ScratchDir dir;
  const std::string source = dir.path("a.gz");
  testing::writeFile(source, "abc");
  chmod(source.c_str(), 0644);
  testing::setFileTime(source, 1704164646);  // 2024-01-02 03:04:06 UTC
  const std::string archive = dir.path("example.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "a.gz", source.c_str(), 0, ZipSourceKind::FileName),
            ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);

  const std::vector<std::uint8_t> expected = hexBytes(
      // local header: signature, version 20, flags 0, method 0, DOS time, DOS date,
      // CRC-32, compressed 3, uncompressed 3, name length 4, extra length 17
      "50 4B 03 04 14 00 00 00 00 00 83 18 22 58 C2 41 24 35 03 00 00 00 03 00 00 00 04 00 11 00"
      "61 2E 67 7A"                                         // "a.gz"
      "55 54 0D 00 07 26 7D 93 65 26 7D 93 65 26 7D 93 65"  // "UT", 3 times
      "61 62 63"                                            // data "abc"
      // central header: signature, made by 0x0B17, needed 20, flags 0, method 0, time, date,
      // CRC-32, sizes, name length 4, extra 9, comment 0, disk 0, internal 0,
      // external 0x81800020, local header offset 0
      "50 4B 01 02 17 0B 14 00 00 00 00 00 83 18 22 58 C2 41 24 35 03 00 00 00 03 00 00 00"
      "04 00 09 00 00 00 00 00 00 00 20 00 80 81 00 00 00 00"
      "61 2E 67 7A 55 54 05 00 07 26 7D 93 65"
      // end record: one member, directory of 59 bytes at 54
      "50 4B 05 06 00 00 00 00 01 00 01 00 3B 00 00 00 36 00 00 00 00 00");
  ASSERT_EQ(expected.size(), 135u);
  const std::string written = testing::readFile(archive);
  EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), expected);
}

// A sink that takes `room` bytes in all and refuses the rest.
class LimitedSink final : public ZipSink {
 public:
  explicit LimitedSink(std::size_t room) : room_(room) {}
  std::uint32_t write(const std::uint8_t* data, std::uint32_t count) override {
    const std::size_t take = std::min<std::size_t>(count, room_ - bytes.size());
    bytes.insert(bytes.end(), data, data + take);
    return static_cast<std::uint32_t>(take);
  }
  std::vector<std::uint8_t> bytes;

 private:
  std::size_t room_;
};

TEST(RecordWriters, ReportAShortWriteOfAnyPartOfARecord) {
  ZipEntry entry;
  ASSERT_EQ(setMemberName(entry, "name.txt", false), ZipResult::Ok);
  setTimestampExtras(entry, 1, 2, 3);
  const std::uint32_t lengths[] = {localHeaderLength(entry), dataDescriptorLength(entry),
                                   centralHeaderLength(entry), 22};
  EXPECT_EQ(lengths[0], 30u + 8 + 17);
  EXPECT_EQ(lengths[1], 16u);
  EXPECT_EQ(lengths[2], 46u + 8 + 9);
  for (std::uint32_t cut : {0u, 10u}) {
    LimitedSink a(cut), b(cut), c(cut), d(cut);
    EXPECT_FALSE(writeLocalHeader(a, entry));
    EXPECT_FALSE(writeDataDescriptor(b, entry));
    EXPECT_FALSE(writeCentralHeader(c, entry));
    EXPECT_FALSE(writeEndRecord(d, 1, 63, 0));
  }
  LimitedSink full(1000);
  EXPECT_TRUE(writeLocalHeader(full, entry));
  EXPECT_EQ(full.bytes.size(), lengths[0]);
}

TEST(RecordWriters, Zip64FieldsOnlyWhereAValueDoesNotFit) {
  ZipEntry entry;
  ASSERT_EQ(setMemberName(entry, "big", false), ZipResult::Ok);
  setTimestampExtras(entry, 1, 2, 3);
  entry.uncompressedSize = 0x100000005ull;
  entry.compressedSize = 0x1234;
  entry.localHeaderOffset = 0x200000000ull;
  LimitedSink central(1000);
  ASSERT_TRUE(writeCentralHeader(central, entry));
  const std::vector<std::uint8_t>& b = central.bytes;
  ASSERT_EQ(b.size(), 46u + 3 + 9 + 4 + 16);
  EXPECT_EQ(b[6], 45);     // version needed
  EXPECT_EQ(b[20], 0x34);  // compressed size fits
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 24, b.begin() + 28),
            std::vector<std::uint8_t>(4, 0xFF));  // uncompressed: marker
  EXPECT_EQ(b[30], 9 + 20);                       // extra length
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 42, b.begin() + 46),
            std::vector<std::uint8_t>(4, 0xFF));  // offset: marker
  const std::size_t zip64 = 46 + 3 + 9;
  EXPECT_EQ(b[zip64], 1);       // tag 0x0001
  EXPECT_EQ(b[zip64 + 2], 16);  // two values
  EXPECT_EQ(b[zip64 + 4], 5);   // uncompressed low byte
  EXPECT_EQ(b[zip64 + 8], 1);   // uncompressed bit 32
  EXPECT_EQ(b[zip64 + 16], 2);  // offset bit 33

  LimitedSink end(1000);
  ASSERT_TRUE(writeEndRecord(end, 3, 100, 0x200000000ull));
  ASSERT_EQ(end.bytes.size(), 56u + 20 + 22);
  EXPECT_EQ(end.bytes[0x38], 0x50);    // locator signature
  EXPECT_EQ(end.bytes[0x38 + 12], 2);  // ZIP64 record at 0x200000064
  EXPECT_EQ(end.bytes[0x38 + 8], 0x64);
  LimitedSink small(1000);
  ASSERT_TRUE(writeEndRecord(small, 0xFFFE, 100, 0xFFFFFFFE));
  EXPECT_EQ(small.bytes.size(), 22u);
  LimitedSink many(1000);
  ASSERT_TRUE(writeEndRecord(many, 0xFFFF, 100, 10));
  EXPECT_EQ(many.bytes.size(), 98u);
}

TEST(RecordWriters, EncryptedMembersSayAesWithTheirRealMethodAndNoCrc) {
  ZipEntry entry;
  ASSERT_EQ(setMemberName(entry, "big", false), ZipResult::Ok);
  setTimestampExtras(entry, 1, 2, 3);
  entry.method = 8;
  entry.encrypted = true;
  entry.localZip64 = true;
  entry.crc32 = 0x12345678;
  entry.uncompressedSize = 0x100000005ull;
  entry.compressedSize = 0x1234;
  const std::vector<std::uint8_t> aesField = hexBytes("01 99 07 00 02 00 41 45 03 08 00");
  const std::vector<std::uint8_t> zero(4, 0);
  auto at = [](const std::vector<std::uint8_t>& b, std::size_t from, std::size_t count) {
    return std::vector<std::uint8_t>(b.begin() + from, b.begin() + from + count);
  };
  LimitedSink local(1000);
  ASSERT_TRUE(writeLocalHeader(local, entry));
  ASSERT_EQ(local.bytes.size(), 30u + 3 + 17 + 20 + 11);
  EXPECT_EQ(local.bytes[4], 51);  // version needed
  EXPECT_EQ(local.bytes[8], 99);  // method
  EXPECT_EQ(at(local.bytes, 14, 4), zero);
  EXPECT_EQ(local.bytes[28], 17 + 20 + 11);
  EXPECT_EQ(at(local.bytes, local.bytes.size() - 11, 11), aesField);
  LimitedSink descriptor(1000);
  ASSERT_TRUE(writeDataDescriptor(descriptor, entry));
  ASSERT_EQ(descriptor.bytes.size(), 24u);
  EXPECT_EQ(at(descriptor.bytes, 4, 4), zero);
  LimitedSink central(1000);
  ASSERT_TRUE(writeCentralHeader(central, entry));
  ASSERT_EQ(central.bytes.size(), centralHeaderLength(entry));
  ASSERT_EQ(central.bytes.size(), 46u + 3 + 9 + 12 + 11);
  EXPECT_EQ(central.bytes[6], 51);
  EXPECT_EQ(central.bytes[10], 99);
  EXPECT_EQ(at(central.bytes, 16, 4), zero);
  EXPECT_EQ(central.bytes[30], 9 + 12 + 11);
  EXPECT_EQ(at(central.bytes, central.bytes.size() - 11, 11), aesField);
}

}  // namespace
}  // namespace vaultwick
