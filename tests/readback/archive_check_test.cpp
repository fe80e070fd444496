// The check of a finished archive, against archives the writer made and the
// same archives damaged on purpose.

#include "readback/archive_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "readback/fast_sql_member.h"
#include "readback/plain_member.h"
#include "tests/zip/zip_test_support.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ScratchDir;

// An archive of `members` (name, content) in memory order, written to `path`.
void writeArchive(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& members) {
  ZipHandle* handle = openZipWriter(path.c_str(), 0, ZipTargetKind::FileName);
  ASSERT_NE(handle, nullptr);
  for (const auto& [name, content] : members) {
    ASSERT_EQ(addZipMember(handle, name.c_str(), content.data(),
                           static_cast<std::uint32_t>(content.size()), ZipSourceKind::Memory),
              ZipResult::Ok);
  }
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

std::string checkError(const std::string& path) {
  std::string error;
  EXPECT_FALSE(ReadSqlMember(path, &error).has_value()) << path;
  return error;
}

TEST(ArchiveCheck, WrittenArchiveReadsBackAsWrittenAndAFlippedByteIsCaught) {
  ScratchDir dir;
  const std::string content = testing::textContent(400000, 1);
  testing::writeFile(dir.path("shop.sql"), content);
  const std::string archive = dir.path("shop.zip");
  ZipMemberSummary written;
  ASSERT_EQ(
      ZipSingleFile(dir.path("shop.sql").c_str(), archive.c_str(), StopToken::Never(), &written),
      ZipResult::Ok);
  EXPECT_EQ(VerifyWrittenArchive(archive, written), "");
  std::string error;
  const std::optional<SqlMemberFacts> facts = ReadSqlMember(archive, &error);
  ASSERT_TRUE(facts.has_value()) << error;
  EXPECT_EQ(facts->name, "shop.sql");
  EXPECT_EQ(facts->size, content.size());
  EXPECT_EQ(facts->crc32, testing::bitwiseCrc32(content));
  EXPECT_EQ(facts->memberCount, 1);

  // An open file reads the same, from its start each time, and stays open.
  const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int pass = 0; pass < 2; ++pass) {
    std::unique_ptr<ArchiveReader> reader = ArchiveReader::Open(fd, &error);
    ASSERT_NE(reader, nullptr) << error;
    const std::optional<SqlMemberFacts> again = ReadSqlMember(*reader, &error);
    ASSERT_TRUE(again.has_value()) << error;
    EXPECT_EQ(again->crc32, facts->crc32) << pass;
  }
  EXPECT_EQ(::close(fd), 0);

  // What the writer says it wrote differs from the archive.
  ZipMemberSummary other = written;
  other.crc32 ^= 1;
  EXPECT_NE(VerifyWrittenArchive(archive, other).find("CRC-32"), std::string::npos);
  other = written;
  other.name = "other.sql";
  EXPECT_NE(VerifyWrittenArchive(archive, other), "");

  // One bit flipped in the compressed data, anywhere in it.
  const std::string bytes = testing::readFile(archive);
  for (const std::size_t at : {std::size_t{100}, bytes.size() / 2, bytes.size() - 200}) {
    std::string damaged = bytes;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x08);
    testing::writeFile(dir.path("damaged.zip"), damaged);
    EXPECT_NE(VerifyWrittenArchive(dir.path("damaged.zip"), written), "") << at;
  }
}

TEST(ArchiveCheck, ArchivesThatHoldNoSingleWholeDump) {
  ScratchDir dir;
  writeArchive(dir.path("none.zip"), {{"readme.txt", "no dump here"}});
  EXPECT_EQ(checkError(dir.path("none.zip")), "No .sql member in the archive");

  writeArchive(dir.path("two.zip"), {{"a.sql", "x"}, {"b.SQL", "y"}});
  EXPECT_EQ(checkError(dir.path("two.zip")), "More than one .sql member: a.sql and b.SQL");

  // Beside other members the dump is found; the count tells the job it is not alone.
  writeArchive(dir.path("mixed.zip"), {{"readme.txt", "r"}, {"db.sql", "INSERT"}});
  std::string error;
  const std::optional<SqlMemberFacts> mixed = ReadSqlMember(dir.path("mixed.zip"), &error);
  ASSERT_TRUE(mixed.has_value()) << error;
  EXPECT_EQ(mixed->memberCount, 2);
  EXPECT_NE(VerifyWrittenArchive(dir.path("mixed.zip"), {"db.sql", 6, mixed->crc32}), "");

  // Cut anywhere, even just before the end record: no whole archive.
  writeArchive(dir.path("whole.zip"), {{"db.sql", testing::textContent(100000, 2)}});
  const std::string bytes = testing::readFile(dir.path("whole.zip"));
  for (const std::size_t keep : {bytes.size() - 22, bytes.size() / 2, std::size_t{10}}) {
    testing::writeFile(dir.path("cut.zip"), bytes.substr(0, keep));
    EXPECT_NE(checkError(dir.path("cut.zip")), "") << keep;
  }
  testing::writeFile(dir.path("text.zip"), "not an archive");
  EXPECT_NE(checkError(dir.path("text.zip")), "");
  EXPECT_NE(checkError(dir.path("missing.zip")), "");
}

// Whatever the locale (a test process has chosen none, as the command line
// has not): a name beyond ASCII reads back as the bytes the writer wrote,
// UTF-8 the archive marks as such and bytes of another set as they stand.
TEST(ArchiveCheck, NamesBeyondAsciiReadBackAsTheirBytes) {
  ScratchDir dir;
  for (const std::string& name :
       {std::string("Gr\u00FC\u00DFe.sql"), std::string("Gr\xFC\xDF") + "e.sql"}) {
    writeArchive(dir.path("names.zip"), {{name, "INSERT"}});
    std::string error;
    const std::optional<SqlMemberFacts> facts = ReadSqlMember(dir.path("names.zip"), &error);
    ASSERT_TRUE(facts.has_value()) << error;
    EXPECT_EQ(facts->name, name);
    EXPECT_EQ(VerifyWrittenArchive(dir.path("names.zip"), {name, 6, facts->crc32}), "");
  }
}

// AE-2 puts no CRC-32 in the headers: the authentication code is what libarchive
// proves, and the CRC-32 and length of the inflated dump are compared with what
// the writer read.
TEST(ArchiveCheck, EncryptedArchiveIsProvedWithItsPasswordAndTamperingIsCaught) {
  ScratchDir dir;
  const std::string content = testing::textContent(400000, 3);
  testing::writeFile(dir.path("shop.sql"), content);
  const std::string archive = dir.path("shop.zip");
  const std::string password = "pass word";
  ZipMemberSummary written;
  ASSERT_EQ(ZipSingleFile(dir.path("shop.sql").c_str(), archive.c_str(), StopToken::Never(),
                          &written, 1, password.c_str()),
            ZipResult::Ok);
  EXPECT_EQ(written.crc32, testing::bitwiseCrc32(content));
  EXPECT_EQ(VerifyWrittenArchive(archive, written, StopToken::Never(), password), "");
  std::string error;
  const std::optional<SqlMemberFacts> facts =
      ReadSqlMember(archive, &error, StopToken::Never(), {}, password);
  ASSERT_TRUE(facts.has_value()) << error;
  EXPECT_TRUE(facts->encrypted);
  EXPECT_EQ(facts->crc32, written.crc32);

  EXPECT_EQ(VerifyWrittenArchive(archive, written, StopToken::Never(), "wrong"),
            "Archive check: shop.sql is encrypted under another password than the archive "
            "password given");
  EXPECT_EQ(ReadSqlMember(archive, &error), std::nullopt);
  EXPECT_EQ(error, "shop.sql is encrypted, and no archive password was given");

  // One byte changed in the salt, in the enciphered data, or in the
  // authentication code itself, whose data still decrypts and inflates whole.
  const std::string bytes = testing::readFile(archive);
  const testing::ParsedMember member = testing::parseArchiveFile(archive).members.at(0);
  const std::size_t end = member.dataOffset + member.compressedSize;
  for (const std::size_t at : {member.dataOffset + 3, member.dataOffset + 5000, end - 4}) {
    std::string damaged = bytes;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
    testing::writeFile(dir.path("damaged.zip"), damaged);
    const std::string complaint =
        VerifyWrittenArchive(dir.path("damaged.zip"), written, StopToken::Never(), password);
    EXPECT_NE(complaint, "") << at;
    if (at == end - 4) {
      EXPECT_NE(complaint.find("uthentication"), std::string::npos) << complaint;
    }
  }

  // An archive that should have been encrypted and is not.
  ASSERT_EQ(
      ZipSingleFile(dir.path("shop.sql").c_str(), archive.c_str(), StopToken::Never(), &written),
      ZipResult::Ok);
  EXPECT_NE(
      VerifyWrittenArchive(archive, written, StopToken::Never(), password).find("not encrypted"),
      std::string::npos);
}

// The faster reading of an open archive gives what the plain reading gives,
// word for word, whichever way it takes: its own inflater for the writer's
// plain single member, libarchive for anything else and for every fault,
// without handing a byte on twice.
TEST(ArchiveCheck, FastReadingGivesTheSameFactsAndReasons) {
  ScratchDir dir;
  const std::string content = testing::textContent(300000, 4);
  writeArchive(dir.path("whole.zip"), {{"db.sql", content}});
  writeArchive(dir.path("second.zip"), {{"readme.txt", "r"}, {"db.sql", content}});
  writeArchive(dir.path("first.zip"), {{"db.sql", content}, {"readme.txt", "r"}});
  writeArchive(dir.path("named.zip"), {{"Gr\u00FC\u00DFe.sql", content}});
  writeArchive(dir.path("two.zip"), {{"a.sql", "x"}, {"b.SQL", "y"}});
  writeArchive(dir.path("none.zip"), {{"readme.txt", "r"}});
  testing::writeFile(dir.path("db.sql"), content);
  ZipMemberSummary written;
  ASSERT_EQ(ZipSingleFile(dir.path("db.sql").c_str(), dir.path("sealed.zip").c_str(),
                          StopToken::Never(), &written, 1, "pw"),
            ZipResult::Ok);
  const std::string bytes = testing::readFile(dir.path("whole.zip"));
  const testing::ParsedMember member =
      testing::parseArchiveFile(dir.path("whole.zip")).members.at(0);
  std::vector<std::pair<std::string, std::string>> damages = {
      {"cut", bytes.substr(0, bytes.size() * 3 / 4)},
      {"headerCrc", bytes},
      {"early", bytes},
      {"late", bytes}};
  damages[1].second[14] = static_cast<char>(damages[1].second[14] ^ 1);
  damages[2].second[member.dataOffset + 50] ^= 0x08;
  damages[3].second[member.dataOffset + member.compressedSize - 30] ^= 0x08;
  std::vector<std::string> names = {"whole", "second", "first", "named", "two", "none", "sealed"};
  for (const auto& [name, damaged] : damages) {
    testing::writeFile(dir.path(name + ".zip"), damaged);
    names.push_back(name);
  }

  for (const std::string& name : names) {
    const std::string path = dir.path(name + ".zip");
    const std::string password = name == "sealed" ? "pw" : "";
    std::string plainError;
    const std::optional<SqlMemberFacts> plain =
        ReadSqlMember(path, &plainError, StopToken::Never(), {}, password);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // The writer's own archives with the dump first take the reader's own
    // inflater, whatever the name's bytes.
    if (name == "whole" || name == "first" || name == "named") {
      const std::optional<PlainMember> header = ReadPlainMember(fd);
      ASSERT_TRUE(header.has_value() && plain.has_value()) << name;
      EXPECT_EQ(header->name, plain->name);
    }
    std::string fastError;
    std::string handed;
    const std::optional<SqlMemberFacts> fast =
        ReadSqlMemberFast(fd, password, &fastError, StopToken::Never(),
                          [&](const std::uint8_t* data, std::size_t size) {
                            handed.append(reinterpret_cast<const char*>(data), size);
                          });
    EXPECT_EQ(::close(fd), 0);
    ASSERT_EQ(fast.has_value(), plain.has_value()) << name << ": " << fastError;
    if (plain) {
      EXPECT_EQ(fast->name, plain->name) << name;
      EXPECT_EQ(fast->size, plain->size) << name;
      EXPECT_EQ(fast->crc32, plain->crc32) << name;
      EXPECT_EQ(fast->memberCount, plain->memberCount) << name;
      EXPECT_EQ(fast->encrypted, plain->encrypted) << name;
      EXPECT_EQ(handed.size(), fast->size) << name;
      EXPECT_EQ(testing::bitwiseCrc32(handed), fast->crc32) << name;
    } else {
      EXPECT_EQ(fastError, plainError) << name;
      // A reason goes on into longer messages: it ends with its last word.
      EXPECT_EQ(plainError.find('\n'), std::string::npos) << plainError;
    }
  }
}

TEST(ArchiveCheck, FastReadingStopsWhenAsked) {
  ScratchDir dir;
  writeArchive(dir.path("whole.zip"), {{"db.sql", testing::textContent(4000000, 5)}});
  StopToken stop;
  const int fd = ::open(dir.path("whole.zip").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string error;
  EXPECT_FALSE(ReadSqlMemberFast(fd, {}, &error, stop, [&](const std::uint8_t*, std::size_t) {
                 stop.RequestStop();
               }).has_value());
  EXPECT_EQ(error, kTextStoppedOnRequest);
  EXPECT_EQ(::close(fd), 0);
}

}  // namespace
}  // namespace vaultwick
