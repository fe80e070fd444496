#include "readback/archive_check.h"

#include <strings.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "readback/archive_reader.h"
#include "zip/zip_crc32.h"

namespace vaultwick {

namespace {

constexpr std::size_t kInflateBlock = 1 << 20;

// libarchive's reasons for an encrypted member it cannot open, which a user
// fixes by giving the archive's password, or the right one.
constexpr std::string_view kLibraryNoPassword = "Passphrase required for this entry";
constexpr std::string_view kLibraryWrongPassword = "Incorrect passphrase";

// Why an encrypted member does not decrypt, in the user's words where
// libarchive's reason is one of a missing or wrong password.
std::string DecryptFailure(const std::string& member, const std::string& reason) {
  if (reason == kLibraryNoPassword) {
    return member + " is encrypted, and no archive password was given";
  }
  if (reason == kLibraryWrongPassword) {
    return member + " is encrypted under another password than the archive password given";
  }
  return member + " does not decrypt: " + reason;
}

// Inflates the current member whole, counting its length and CRC-32.
bool InflateWhole(ArchiveReader& reader, SqlMemberFacts& facts, const StopToken& stop,
                  const std::function<void(const std::uint8_t*, std::size_t)>& onData,
                  std::string* error) {
  std::vector<std::uint8_t> block(kInflateBlock);
  for (;;) {
    if (stop.StopRequested()) {
      *error = kTextStoppedOnRequest;
      return false;
    }
    const std::int64_t got = reader.Read(block.data(), block.size());
    if (got < 0) {
      // Of an encrypted member, libarchive's reason tells a wrong password from
      // data that fails its authentication code.
      *error = facts.encrypted ? DecryptFailure(facts.name, reader.Error())
                               : facts.name + " is damaged: " + reader.Error();
      return false;
    }
    if (got == 0) {
      return true;
    }
    facts.crc32 = crc32Update(facts.crc32, block.data(), static_cast<std::size_t>(got));
    if (onData) {
      onData(block.data(), static_cast<std::size_t>(got));
    }
    facts.size += static_cast<std::uint64_t>(got);
  }
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08" PRIX32, value);
  return text;
}

}  // namespace

bool IsSqlMember(const ArchiveReader::Member& member) {
  constexpr std::size_t kSuffix = 4;
  const std::string& name = member.name;
  return member.regularFile && name.size() > kSuffix &&
         strcasecmp(name.c_str() + name.size() - kSuffix, ".sql") == 0;
}

std::optional<SqlMemberFacts> ReadSqlMember(
    const std::string& archivePath, std::string* error, const StopToken& stop,
    const std::function<void(const std::uint8_t*, std::size_t)>& onData,
    const std::string& password) {
  std::unique_ptr<ArchiveReader> reader = ArchiveReader::Open(archivePath, error, password);
  if (!reader) {
    return std::nullopt;
  }
  return ReadSqlMember(*reader, error, stop, onData);
}

std::optional<SqlMemberFacts> ReadSqlMember(
    ArchiveReader& reader, std::string* error, const StopToken& stop,
    const std::function<void(const std::uint8_t*, std::size_t)>& onData) {
  SqlMemberFacts facts;
  bool found = false;
  while (std::optional<ArchiveReader::Member> member = reader.Next()) {
    ++facts.memberCount;
    if (!IsSqlMember(*member)) {
      continue;
    }
    if (found) {
      *error = "More than one .sql member: " + facts.name + " and " + member->name;
      return std::nullopt;
    }
    found = true;
    facts.name = member->name;
    facts.encrypted = member->encrypted;
    if (!InflateWhole(reader, facts, stop, onData, error)) {
      return std::nullopt;
    }
    if (member->size && *member->size != facts.size) {
      *error = facts.name + ": " + std::to_string(facts.size) + " bytes, its header says " +
               std::to_string(*member->size);
      return std::nullopt;
    }
  }
  if (reader.Failed()) {
    *error = reader.Error();
    return std::nullopt;
  }
  if (!found) {
    *error = kTextNoSqlMember;
    return std::nullopt;
  }
  return facts;
}

std::string VerifyWrittenArchive(const std::string& archivePath, const ZipMemberSummary& written,
                                 const StopToken& stop, const std::string& password) {
  std::string error;
  const std::optional<SqlMemberFacts> read = ReadSqlMember(archivePath, &error, stop, {}, password);
  if (!read) {
    return "Archive check: " + error;
  }
  if (read->memberCount != 1 || read->name != written.name) {
    return "Archive check: the archive does not hold " + written.name + " alone";
  }
  // An archive meant to be encrypted that is not would be readable by anyone.
  if (!password.empty() && !read->encrypted) {
    return "Archive check: " + written.name + " is not encrypted";
  }
  if (read->size != written.size || read->crc32 != written.crc32) {
    return "Archive check: " + written.name + " reads back as " + std::to_string(read->size) +
           " bytes with CRC-32 " + Hex(read->crc32) + ", written were " +
           std::to_string(written.size) + " bytes with CRC-32 " + Hex(written.crc32);
  }
  return {};
}

}  // namespace vaultwick
