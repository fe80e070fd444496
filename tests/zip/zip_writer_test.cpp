// Archives from every target and source kind, read back by Python's zipfile
// (CRC check and content) and by bsdtar, and their header values checked by the
// test-side parser.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "tests/zip/zip_test_support.h"
#include "zip/little_endian.h"
#include "zip/zip_single_file.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ParsedArchive;
using testing::ParsedMember;
using testing::ScratchDir;

std::map<std::string, ParsedMember> byName(const ParsedArchive& archive) {
  std::map<std::string, ParsedMember> members;
  for (const ParsedMember& member : archive.members) {
    members[member.name] = member;
  }
  return members;
}

// Every listed member reads back with both readers and holds what was put in.
void expectReadsBack(const std::string& archive,
                     const std::map<std::string, std::string>& contents) {
  const std::string listing = testing::pythonListing(archive);
  const std::string tarListing = testing::bsdtarListing(archive);
  for (const auto& [name, content] : contents) {
    EXPECT_NE(listing.find(name + "\t"), std::string::npos) << name << "\n" << listing;
    EXPECT_NE(tarListing.find(name), std::string::npos) << name;
    if (name.back() == '/') {
      continue;
    }
    EXPECT_EQ(testing::pythonExtract(archive, name), content) << name;
    EXPECT_EQ(testing::bsdtarExtract(archive, name), content) << name;
  }
}

TEST(ZipWriter, BackupJobCaseIsOneDeflatedMemberWithoutDescriptor) {
  ScratchDir dir;
  const std::string dump = dir.path("shop.sql");
  const std::string content = testing::textContent(300000, 1);
  testing::writeFile(dump, content);
  const std::string archive = dir.path("shop.zip");
  ZipMemberSummary written;
  ASSERT_EQ(ZipSingleFile(dump.c_str(), archive.c_str(), StopToken::Never(), &written),
            ZipResult::Ok);
  EXPECT_EQ(written.name, "shop.sql");
  EXPECT_EQ(written.size, content.size());
  EXPECT_EQ(written.crc32, testing::bitwiseCrc32(content));

  const ParsedArchive parsed = testing::parseArchiveFile(archive);
  ASSERT_EQ(parsed.members.size(), 1u);
  const ParsedMember& m = parsed.members[0];
  EXPECT_EQ(m.name, "shop.sql");
  EXPECT_EQ(m.method, 8);
  EXPECT_EQ(m.flags, 0x0002);
  EXPECT_EQ(m.localFlags, 0x0002);
  EXPECT_EQ(m.versionMadeBy, 0x0B17);
  EXPECT_EQ(m.versionNeeded, 20);
  EXPECT_EQ(m.internalAttributes, 0);
  EXPECT_EQ(m.localExtraLength, 17);
  EXPECT_EQ(m.centralExtraLength, 9);
  EXPECT_EQ(m.localCrc32, m.crc32);
  EXPECT_EQ(m.crc32, testing::bitwiseCrc32(content));
  EXPECT_EQ(m.uncompressedSize, content.size());
  EXPECT_LT(m.compressedSize, content.size() / 3);
  // The directory follows the data at once: no data descriptor.
  EXPECT_EQ(m.dataOffset + m.compressedSize, parsed.directoryOffset);
  expectReadsBack(archive, {{"shop.sql", content}});

  EXPECT_EQ(ZipSingleFile(dir.path("missing.sql").c_str(), dir.path("m.zip").c_str()),
            ZipResult::CannotOpen);
  EXPECT_EQ(ZipSingleFile(dump.c_str(), dir.path("no/such/folder/x.zip").c_str()),
            ZipResult::CannotOpen);
  EXPECT_EQ(ZipSingleFile(dump.c_str(), "/dev/full"), ZipResult::WriteFailed);
}

// Reading a file to pack it leaves its access time alone, so the same file
// packed twice gives the same archive (the access time is in the extra field).
TEST(ZipWriter, PackingAFileTwiceGivesTheSameArchive) {
  ScratchDir dir;
  const std::string dump = dir.path("shop.sql");
  testing::writeFile(dump, testing::textContent(100000, 2));
  // An access time before the modification time is one the next read moves.
  const timespec times[2] = {{1000000000, 0}, {1000000100, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dump.c_str(), times, 0), 0);
  ASSERT_EQ(ZipSingleFile(dump.c_str(), dir.path("1.zip").c_str()), ZipResult::Ok);
  ASSERT_EQ(ZipSingleFile(dump.c_str(), dir.path("2.zip").c_str()), ZipResult::Ok);
  struct stat info {};
  ASSERT_EQ(stat(dump.c_str(), &info), 0);
  EXPECT_EQ(info.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_TRUE(testing::readFile(dir.path("1.zip")) == testing::readFile(dir.path("2.zip")));
}

// Names beyond ASCII carry the UTF-8 flag, or readers show them in the DOS code page;
// bytes that are no UTF-8 at all are left unflagged.
TEST(ZipWriter, NamesBeyondAsciiAreMarkedUtf8) {
  ScratchDir dir;
  const std::string archive = dir.path("names.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  const std::map<std::string, std::uint16_t> names = {
      {"plain.sql", 0x0000},
      {"caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.sql", 0x0800},
      {"latin1-\xE9t\xE9.sql", 0x0000},   // not UTF-8
      {"overlong-\xC0\xAF.sql", 0x0000},  // overlong form of '/'
      {"cut-\xE6\x97", 0x0000},           // sequence cut off by the end
      {"surrogate-\xED\xA0\x80.sql", 0x0000},
  };
  for (const auto& [name, flag] : names) {
    ASSERT_EQ(addZipMember(handle, name.c_str(), "abc", 3, ZipSourceKind::Memory), ZipResult::Ok);
  }
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  auto members = byName(testing::parseArchiveFile(archive));
  for (const auto& [name, flag] : names) {
    EXPECT_EQ(members[name].flags & 0x0800, flag) << name;
    EXPECT_EQ(members[name].localFlags & 0x0800, flag) << name;
  }
  const std::string utf8 = "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.sql";
  EXPECT_NE(testing::pythonListing(archive).find(utf8 + "\t"), std::string::npos);
  int status = 0;
  const std::string tarNames =
      testing::runCommand("LC_ALL=C.UTF-8 bsdtar -tf " + testing::shellQuote(archive), &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(tarNames.find(utf8 + "\n"), std::string::npos) << tarNames;
}

TEST(ZipWriter, MixedMembersToAFile) {
  ScratchDir dir;
  const std::map<std::string, std::string> files = {
      {"x.TGZ", testing::randomContent(5000, 2)},
      {"photo.zip", testing::randomContent(100, 3)},
      {"empty.txt", ""},
      {"big-text.sql", testing::textContent(5 << 20, 4)},
      {"big-random.bin", testing::randomContent(3 << 20, 5)},
  };
  for (const auto& [name, content] : files) {
    testing::writeFile(dir.path(name), content);
  }
  const std::string archive = dir.path("mixed.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  for (const auto& [name, content] : files) {
    ASSERT_EQ(
        addZipMember(handle, name.c_str(), dir.path(name).c_str(), 0, ZipSourceKind::FileName),
        ZipResult::Ok)
        << name;
  }
  const std::string fromMemory = testing::textContent(20000, 6);
  ASSERT_EQ(addZipMember(handle, "sub\\dir\\memory.txt", fromMemory.data(),
                         static_cast<std::uint32_t>(fromMemory.size()), ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "data", nullptr, 0, ZipSourceKind::Folder), ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "logs/", nullptr, 0, ZipSourceKind::Folder), ZipResult::Ok);
  const int sourceFd = open(dir.path("photo.zip").c_str(), O_RDONLY);
  lseek(sourceFd, 50, SEEK_SET);  // a disk file is read from its start whatever its position
  ASSERT_EQ(addZipMember(handle, "again.zip", &sourceFd, 0, ZipSourceKind::Handle), ZipResult::Ok);
  close(sourceFd);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);

  std::map<std::string, std::string> expected = files;
  expected["sub/dir/memory.txt"] = fromMemory;
  expected["data/"] = "";
  expected["logs/"] = "";
  expected["again.zip"] = files.at("photo.zip");
  expectReadsBack(archive, expected);

  auto members = byName(testing::parseArchiveFile(archive));
  ASSERT_EQ(members.size(), expected.size());
  EXPECT_EQ(members["x.TGZ"].method, 0);
  EXPECT_EQ(members["x.TGZ"].flags, 0);
  EXPECT_EQ(members["x.TGZ"].compressedSize, 5000u);
  EXPECT_EQ(members["photo.zip"].method, 0);
  EXPECT_EQ(members["big-random.bin"].method, 8);
  EXPECT_EQ(members["empty.txt"].method, 8);
  EXPECT_EQ(members["empty.txt"].uncompressedSize, 0u);
  EXPECT_EQ(members["empty.txt"].crc32, 0u);
  EXPECT_EQ(members["sub/dir/memory.txt"].externalAttributes, 0x80000000u);
  for (const char* folder : {"data/", "logs/"}) {
    const ParsedMember& m = members[folder];
    EXPECT_EQ(m.method, 0) << folder;
    EXPECT_EQ(m.flags, 0) << folder;
    EXPECT_EQ(m.crc32, 0u) << folder;
    EXPECT_EQ(m.compressedSize, 0u) << folder;
    EXPECT_EQ(m.uncompressedSize, 0u) << folder;
    EXPECT_EQ(m.externalAttributes, 0x41C00010u) << folder;
  }
  for (const auto& [name, m] : members) {
    EXPECT_FALSE(m.hasDataDescriptor) << name;
  }
}

TEST(ZipWriter, ManyMembersKeepTheirOrder) {
  ScratchDir dir;
  const std::string archive = dir.path("many.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  std::map<std::string, std::string> contents;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "member-" + std::to_string(i) + (i % 3 == 0 ? ".gz" : ".txt");
    const std::string content = testing::textContent(1 + i * 37, i);
    contents[name] = content;
    ASSERT_EQ(addZipMember(handle, name.c_str(), content.data(),
                           static_cast<std::uint32_t>(content.size()), ZipSourceKind::Memory),
              ZipResult::Ok);
  }
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  const ParsedArchive parsed = testing::parseArchiveFile(archive);
  ASSERT_EQ(parsed.members.size(), 400u);
  EXPECT_EQ(parsed.members[0].name, "member-0.gz");
  EXPECT_EQ(parsed.members[399].name, "member-399.gz");
  EXPECT_FALSE(testing::pythonListing(archive).empty());
  EXPECT_EQ(testing::pythonExtract(archive, "member-250.txt"), contents["member-250.txt"]);
  EXPECT_EQ(testing::bsdtarExtract(archive, "member-398.txt"), contents["member-398.txt"]);
}

TEST(ZipWriter, EmptyArchiveIsTheEndRecordAlone) {
  ScratchDir dir;
  const std::string archive = dir.path("empty.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  const std::string bytes = testing::readFile(archive);
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(ZipWriter, HandleTargetAtANonZeroPositionCountsOffsetsFromTheFileStart) {
  ScratchDir dir;
  const std::string archive = dir.path("prefixed.zip");
  const std::string prefix = testing::randomContent(1000, 8);
  testing::writeFile(archive, prefix);
  const int fd = open(archive.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  lseek(fd, 0, SEEK_END);
  ZipHandle* handle = openZipWriter(&fd, 0, ZipTargetKind::Handle);
  ASSERT_NE(handle, nullptr);
  const std::string text = testing::textContent(100000, 9);
  ASSERT_EQ(addZipMember(handle, "one.txt", text.data(), 100000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "two.gz", text.data(), 5000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  close(fd);  // the caller's descriptor stays open until the caller closes it

  const std::string bytes = testing::readFile(archive);
  EXPECT_EQ(bytes.substr(0, 1000), prefix);
  const ParsedArchive parsed = testing::parseArchiveFile(archive);
  ASSERT_EQ(parsed.members.size(), 2u);
  EXPECT_EQ(parsed.members[0].localHeaderOffset, 1000u);
  EXPECT_EQ(parsed.members[0].localFlags, 0x0002);  // rewritten in place
  EXPECT_EQ(parsed.members[1].localCrc32, testing::bitwiseCrc32(text.substr(0, 5000)));
  EXPECT_EQ(parsed.directoryOffset, parsed.members[1].dataOffset + 5000);
  expectReadsBack(archive, {{"one.txt", text}, {"two.gz", text.substr(0, 5000)}});
}

TEST(ZipWriter, FileOpenedForAppendingIsWrittenForwardAfterItsContent) {
  ScratchDir dir;
  const std::string archive = dir.path("appended.zip");
  testing::writeFile(archive, "existing content");
  const int fd = open(archive.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ZipHandle* handle = openZipWriter(&fd, 0, ZipTargetKind::Handle);
  close(fd);
  ASSERT_NE(handle, nullptr);
  const std::string text = testing::textContent(20000, 14);
  ASSERT_EQ(addZipMember(handle, "a.txt", text.data(), 20000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  const ParsedArchive parsed = testing::parseArchiveFile(archive);
  ASSERT_EQ(parsed.members.size(), 1u);
  EXPECT_EQ(parsed.members[0].localHeaderOffset, 16u);
  EXPECT_TRUE(parsed.members[0].hasDataDescriptor);
  expectReadsBack(archive, {{"a.txt", text}});
}

// Collects everything written to a pipe on a thread of its own.
class PipeCollector {
 public:
  PipeCollector() {
    EXPECT_EQ(pipe(ends_), 0);
    reader_ = std::thread([this] {
      char block[65536];
      ssize_t got;
      while ((got = read(ends_[0], block, sizeof block)) > 0) {
        bytes_.append(block, static_cast<std::size_t>(got));
      }
    });
  }
  int writeEnd() const { return ends_[1]; }
  std::string finish() {
    close(ends_[1]);
    reader_.join();
    close(ends_[0]);
    return bytes_;
  }

 private:
  int ends_[2] = {-1, -1};
  std::thread reader_;
  std::string bytes_;
};

TEST(ZipWriter, PipeTargetGetsDataDescriptors) {
  ScratchDir dir;
  PipeCollector collector;
  const int fd = collector.writeEnd();
  ZipHandle* handle = openZipWriter(&fd, 0, ZipTargetKind::Handle);
  ASSERT_NE(handle, nullptr);
  const std::string text = testing::textContent(200000, 10);
  const std::string raw = testing::randomContent(30000, 11);
  ASSERT_EQ(addZipMember(handle, "dump.sql", text.data(), 200000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "raw.gz", raw.data(), 30000, ZipSourceKind::Memory),
            ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "dir", nullptr, 0, ZipSourceKind::Folder), ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  const std::string bytes = collector.finish();
  const std::string archive = dir.path("piped.zip");
  testing::writeFile(archive, bytes);

  const ParsedArchive parsed = testing::parseArchiveFile(archive);
  ASSERT_EQ(parsed.members.size(), 3u);
  for (const ParsedMember& m : parsed.members) {
    EXPECT_EQ(m.localFlags, 0x0008) << m.name;
    EXPECT_EQ(m.flags, 0x0008) << m.name;
    EXPECT_EQ(m.localCrc32, 0u) << m.name;
    EXPECT_TRUE(m.hasDataDescriptor) << m.name;
  }
  EXPECT_EQ(parsed.members[1].crc32, testing::bitwiseCrc32(raw));
  // Descriptor of the stored member: signature, CRC, sizes.
  const std::size_t descriptor = parsed.members[1].dataOffset + 30000;
  EXPECT_EQ(bytes.substr(descriptor, 4), std::string("PK\x07\x08", 4));
  EXPECT_EQ(parsed.members[2].localHeaderOffset, descriptor + 16);
  expectReadsBack(archive, {{"dump.sql", text}, {"raw.gz", raw}, {"dir/", ""}});
}

TEST(ZipWriter, PipeSourceToFileTargetIsDeflatedOrStoredAfterTheFact) {
  ScratchDir dir;
  const std::string archive = dir.path("frompipe.zip");
  ZipHandle* handle = openZipWriter(archive.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  const std::string text = testing::textContent(150000, 12);
  for (const char* name : {"stream.txt", "stream.gz"}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread feeder([&] {
      EXPECT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(ends[1]);
    });
    EXPECT_EQ(addZipMember(handle, name, &ends[0], 0, ZipSourceKind::Handle), ZipResult::Ok);
    feeder.join();
    close(ends[0]);
  }
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  expectReadsBack(archive, {{"stream.txt", text}, {"stream.gz", text}});
}

// `bytes`, an archive of one member, with its time stamps cleared: the DOS
// stamps and the "UT" times of the local and the central header. A member
// from memory is stamped with the time it is added, so two archives made a
// second apart differ there and nowhere else.
std::string WithoutStamps(std::string bytes) {
  ParsedArchive parsed;
  EXPECT_EQ(testing::parseArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                  0, parsed),
            "");
  if (parsed.members.size() != 1) {
    ADD_FAILURE() << "one member expected";
    return bytes;
  }
  const ParsedMember& member = parsed.members[0];
  auto clear = [&](std::size_t at, std::size_t count) { bytes.replace(at, count, count, '\0'); };
  auto clearTimes = [&](std::size_t at, std::size_t length) {
    for (std::size_t end = at + length; at + 4 <= end;) {
      const auto* record = reinterpret_cast<const std::uint8_t*>(bytes.data());
      const unsigned tag = getU16(record, at);
      const std::size_t size = getU16(record, at + 2);
      if (tag == 0x5455 && size > 1) {
        clear(at + 5, size - 1);  // past the flags
      }
      at += 4 + size;
    }
  };
  const std::size_t local = member.localHeaderOffset;
  const std::size_t central = parsed.directoryOffset;
  clear(local + 10, 4);
  clearTimes(local + 30 + member.name.size(), member.localExtraLength);
  clear(central + 12, 4);
  clearTimes(central + 46 + member.name.size(), member.centralExtraLength);
  return bytes;
}

TEST(ZipWriter, MemoryTargetOfCapacityNHoldsAtMostNMinusOneBytes) {
  const std::string text = testing::textContent(3000, 13);
  auto build = [&](void* block, std::uint32_t capacity, std::string* bytes) {
    ZipHandle* handle = openZipWriter(block, capacity, ZipTargetKind::Memory);
    EXPECT_NE(handle, nullptr);
    const ZipResult added = addZipMember(handle, "m.txt", text.data(), 3000, ZipSourceKind::Memory);
    void* memory = nullptr;
    std::uint32_t length = 0;
    const ZipResult got = getZipWriterMemory(handle, &memory, &length);
    if (bytes != nullptr && memory != nullptr) {
      bytes->assign(static_cast<const char*>(memory), length);
    }
    EXPECT_EQ(got, ZipResult::Ok);
    EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
    return added;
  };
  std::string full;
  ASSERT_EQ(build(nullptr, 1 << 20, &full), ZipResult::Ok);  // a block the writer maps
  const auto n = static_cast<std::uint32_t>(full.size());

  std::string exact;
  std::vector<char> buffer(n + 1);
  ASSERT_EQ(build(buffer.data(), n + 1, &exact), ZipResult::Ok);
  ASSERT_EQ(exact.size(), full.size());
  EXPECT_EQ(WithoutStamps(exact), WithoutStamps(full));

  // One byte less: the end record would fill the last byte.
  std::vector<char> small(n);
  ZipHandle* handle = openZipWriter(small.data(), n, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "m.txt", text.data(), 3000, ZipSourceKind::Memory), ZipResult::Ok);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::WriteFailed);

  // Handing out the block tells the same: those bytes are no whole archive.
  handle = openZipWriter(small.data(), n, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(addZipMember(handle, "m.txt", text.data(), 3000, ZipSourceKind::Memory), ZipResult::Ok);
  void* memory = nullptr;
  std::uint32_t length = 0;
  EXPECT_EQ(getZipWriterMemory(handle, &memory, &length), ZipResult::WriteFailed);
  EXPECT_EQ(memory, small.data());
  EXPECT_LT(length, n);
  EXPECT_EQ(addZipMember(handle, "late.txt", "x", 1, ZipSourceKind::Memory),
            ZipResult::PreviousError);
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);

  ScratchDir dir;
  testing::writeFile(dir.path("memory.zip"), full);
  expectReadsBack(dir.path("memory.zip"), {{"m.txt", text}});
}

}  // namespace
}  // namespace vaultwick
