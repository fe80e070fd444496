// Encrypted members: what their headers say, that independent readers (bsdtar,
// also reading the archive as a stream, and 7z) open them with the password and
// with nothing else, and that the key stream does not depend on how the data
// is cut into writes. Python's zipfile cannot decrypt them at all.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <vector>

#include "tests/zip/zip_test_support.h"
#include "zip/detail/zip_aes.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

using testing::ParsedArchive;
using testing::ParsedMember;
using testing::ScratchDir;
using testing::shellQuote;

constexpr const char* kPassword = "correct horse battery staple";

// Deflated over many refills of the key stream, stored, empty, one byte.
const std::map<std::string, std::string>& contents() {
  static const std::map<std::string, std::string> members = {
      {"dump.sql", testing::textContent(3 << 20, 1)},
      {"photo.gz", testing::randomContent(40000, 2)},
      {"empty.txt", ""},
      {"one.txt", "x"},
  };
  return members;
}

// contents() and a folder into a new archive at `path`, encrypted under
// `password` unless it is null; `forward` writes it as to a pipe, with data
// descriptors (through a descriptor opened for appending).
void writeArchive(const std::string& path, const char* password, bool forward = false) {
  int fd = -1;
  ZipHandle* handle = nullptr;
  if (forward) {
    testing::writeFile(path, "");
    fd = open(path.c_str(), O_WRONLY | O_APPEND);
    handle = openZipWriter(&fd, 0, ZipTargetKind::Handle);
  } else {
    handle = openZipWriter(path.c_str(), 0, ZipTargetKind::FileName);
  }
  ASSERT_NE(handle, nullptr);
  if (password != nullptr) {
    ASSERT_EQ(setZipWriterPassword(handle, password), ZipResult::Ok);
  }
  // From files, as an empty member cannot come from memory.
  for (const auto& [name, content] : contents()) {
    const std::string source = path + "." + name;
    testing::writeFile(source, content);
    ASSERT_EQ(addZipMember(handle, name.c_str(), source.c_str(), 0, ZipSourceKind::FileName),
              ZipResult::Ok)
        << name;
  }
  ASSERT_EQ(addZipMember(handle, "folder", nullptr, 0, ZipSourceKind::Folder), ZipResult::Ok);
  ASSERT_EQ(closeZipWriter(handle), ZipResult::Ok);
  if (fd >= 0) {
    close(fd);
  }
}

std::map<std::string, ParsedMember> byName(const ParsedArchive& archive) {
  std::map<std::string, ParsedMember> members;
  for (const ParsedMember& member : archive.members) {
    members[member.name] = member;
  }
  return members;
}

TEST(ZipAes, HeadersSayAesAndCarryNoCrcAndTheCompressedDataOnlyGrowsByItsFrame) {
  ScratchDir dir;
  writeArchive(dir.path("plain.zip"), nullptr);
  writeArchive(dir.path("secret.zip"), kPassword);
  auto plain = byName(testing::parseArchiveFile(dir.path("plain.zip")));
  auto secret = byName(testing::parseArchiveFile(dir.path("secret.zip")));
  const std::string bytes = testing::readFile(dir.path("secret.zip"));
  for (const auto& [name, content] : contents()) {
    const ParsedMember& m = secret[name];
    EXPECT_EQ(m.method, 99) << name;
    EXPECT_EQ(m.flags & 0x0001, 1) << name;
    EXPECT_EQ(m.localFlags & 0x0001, 1) << name;
    EXPECT_EQ(m.versionNeeded, 51) << name;
    EXPECT_EQ(m.crc32, 0u) << name;
    EXPECT_EQ(m.localCrc32, 0u) << name;
    EXPECT_EQ(m.localExtraLength, 17 + 11) << name;
    EXPECT_EQ(m.centralExtraLength, 9 + 11) << name;
    EXPECT_EQ(m.uncompressedSize, content.size()) << name;
    // Salt and verifier before, authentication code after: the compressor's
    // stream itself is what it is without encryption.
    EXPECT_EQ(m.compressedSize, plain[name].compressedSize + 16 + 2 + 10) << name;
    const std::uint8_t method = plain[name].method;
    const std::string aesField = std::string(
                                     "\x01\x99\x07\x00\x02\x00"
                                     "AE\x03",
                                     9) +
                                 static_cast<char>(method) + std::string(1, '\0');
    EXPECT_EQ(bytes.substr(m.localHeaderOffset + 30 + name.size() + 17, 11), aesField) << name;
  }
  // A folder has no data to hide.
  EXPECT_EQ(secret["folder/"].method, 0);
  EXPECT_EQ(secret["folder/"].flags, 0);
  EXPECT_EQ(secret["folder/"].centralExtraLength, 9);

  // Each member gets a salt of its own, so equal data under the same password
  // never gives equal bytes.
  writeArchive(dir.path("again.zip"), kPassword);
  const std::string again = testing::readFile(dir.path("again.zip"));
  const ParsedMember& first = secret["dump.sql"];
  const ParsedMember second = byName(testing::parseArchiveFile(dir.path("again.zip")))["dump.sql"];
  EXPECT_NE(bytes.substr(first.dataOffset, 16), again.substr(second.dataOffset, 16));
  EXPECT_NE(bytes.substr(first.dataOffset, 16), bytes.substr(secret["one.txt"].dataOffset, 16));
  EXPECT_NE(bytes.substr(first.dataOffset + 18, 1000), again.substr(second.dataOffset + 18, 1000));
}

TEST(ZipAes, IndependentReadersOpenTheMembersWithThePasswordAndWithNothingElse) {
  ScratchDir dir;
  writeArchive(dir.path("file.zip"), kPassword);
  writeArchive(dir.path("forward.zip"), kPassword, true);
  for (const char* archive : {"file.zip", "forward.zip"}) {
    const std::string a = shellQuote(dir.path(archive));
    for (const auto& [name, content] : contents()) {
      const std::string m = shellQuote(name);
      const std::string p = shellQuote(kPassword);
      for (const std::string& read : {"bsdtar -xOf " + a + " --passphrase " + p + " " + m,
                                      "cat " + a + " | bsdtar -xOf - --passphrase " + p + " " + m,
                                      "7z e -so -p" + p + " " + a + " " + m}) {
        int status = 0;
        EXPECT_EQ(testing::runCommand(read, &status), content) << read;
        EXPECT_EQ(status, 0) << read;
      }
    }
    for (const std::string& wrong :
         {"bsdtar -xOf " + a + " --passphrase wrong dump.sql", "bsdtar -xOf " + a + " dump.sql",
          "7z e -so -pwrong " + a + " dump.sql"}) {
      int status = 0;
      testing::runCommand(wrong + " 2>/dev/null", &status);
      EXPECT_NE(status, 0) << wrong;
    }
  }
}

TEST(ZipAes, PasswordsAreSetPerHandleAndNullEndsEncryption) {
  std::vector<char> block(4096);
  ZipHandle* handle = openZipWriter(block.data(), 4096, ZipTargetKind::Memory);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(setZipWriterPassword(nullptr, kPassword), ZipResult::BadArguments);
  EXPECT_EQ(setZipWriterPassword(handle, ""), ZipResult::BadArguments);
  ASSERT_EQ(setZipWriterPassword(handle, kPassword), ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "secret.txt", "abc", 3, ZipSourceKind::Memory), ZipResult::Ok);
  ASSERT_EQ(setZipWriterPassword(handle, nullptr), ZipResult::Ok);
  ASSERT_EQ(addZipMember(handle, "open.txt", "abc", 3, ZipSourceKind::Memory), ZipResult::Ok);
  void* memory = nullptr;
  std::uint32_t length = 0;
  ASSERT_EQ(getZipWriterMemory(handle, &memory, &length), ZipResult::Ok);
  ParsedArchive parsed;
  ASSERT_EQ(testing::parseArchive(static_cast<const std::uint8_t*>(memory), length, 0, parsed), "");
  ASSERT_EQ(parsed.members.size(), 2u);
  EXPECT_EQ(parsed.members[0].method, 99);
  EXPECT_EQ(parsed.members[1].method, 8);
  EXPECT_EQ(parsed.members[1].crc32, testing::bitwiseCrc32("abc"));
  EXPECT_EQ(closeZipWriter(handle), ZipResult::Ok);
}

// The counter runs on across writes of any length, so the bytes enciphered do
// not depend on how the compressor or a pipe cut them up.
TEST(ZipAes, KeyStreamAndAuthenticationCodeDoNotDependOnHowTheDataIsCut) {
  const ZipAesEncryptor::Salt salt = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::string text = testing::randomContent(100000, 3);
  const auto* plain = reinterpret_cast<const std::uint8_t*>(text.data());
  auto whole = ZipAesEncryptor::Start(kPassword, salt);
  auto pieces = ZipAesEncryptor::Start(kPassword, salt);
  ASSERT_TRUE(whole && pieces);
  std::vector<std::uint8_t> once(text.size());
  std::vector<std::uint8_t> cut(text.size());
  ASSERT_TRUE(whole->encrypt(plain, once.data(), text.size()));
  std::size_t at = 0;
  for (const std::size_t step : {1, 15, 16, 17, 4095, 16384, 16385, 3}) {
    ASSERT_TRUE(pieces->encrypt(plain + at, cut.data() + at, step));
    at += step;
  }
  ASSERT_TRUE(pieces->encrypt(plain + at, cut.data() + at, text.size() - at));
  EXPECT_TRUE(once == cut);
  std::uint8_t codes[2][10];
  ASSERT_TRUE(whole->finish(codes[0]));
  ASSERT_TRUE(pieces->finish(codes[1]));
  EXPECT_EQ(std::memcmp(codes[0], codes[1], 10), 0);
  EXPECT_EQ(std::memcmp(whole->preamble(), salt, 16), 0);
  EXPECT_NE(std::memcmp(once.data(), plain, 64), 0);

  // The verifier comes from the password: another one almost always differs.
  auto other = ZipAesEncryptor::Start("another password", salt);
  ASSERT_TRUE(other);
  EXPECT_NE(std::memcmp(other->preamble() + 16, whole->preamble() + 16, 2), 0);
}

}  // namespace
}  // namespace vaultwick
