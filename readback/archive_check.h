#pragma once

// An archive read through before it is trusted: the one SQL dump in it is
// inflated whole, its length and CRC-32 counted, and libarchive compares
// the data with the archive's own headers on the way.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/stop_token.h"
#include "readback/archive_reader.h"
#include "zip/zip_single_file.h"

namespace vaultwick {

// Why an archive without a dump is refused.
inline constexpr char kTextNoSqlMember[] = "No .sql member in the archive";

struct SqlMemberFacts {
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;
  int memberCount = 0;  // every member of the archive, the dump included
  bool encrypted = false;
};

// Whether `member` is a dump: a file whose name ends in ".sql" (any letter case).
bool IsSqlMember(const ArchiveReader::Member& member);

// The archive's one member whose name ends in ".sql" (any letter case), read
// through whole. nullopt with the reason in *error when the archive cannot be
// read, holds no such member or more than one, its data is damaged, or `stop`
// was stopped on the way. `onData`, when given, sees the dump's bytes as they
// are inflated (they are checked only once the member has ended). `password`
// (empty: none) opens an encrypted dump, whose authentication code is then
// proved too.
std::optional<SqlMemberFacts> ReadSqlMember(
    const std::string& archivePath, std::string* error, const StopToken& stop = StopToken::Never(),
    const std::function<void(const std::uint8_t*, std::size_t)>& onData = {},
    const std::string& password = {});

// The same for an archive open in `reader`, none of whose members was read yet.
std::optional<SqlMemberFacts> ReadSqlMember(
    ArchiveReader& reader, std::string* error, const StopToken& stop = StopToken::Never(),
    const std::function<void(const std::uint8_t*, std::size_t)>& onData = {});

// What a backup job asks before its archive replaces the last good one: the
// archive holds exactly the member the writer wrote, with the same name,
// length and CRC-32, and, when a `password` is given, encrypted under it with
// an authentication code that holds. Empty when it does, else what differs (or
// that `stop` was stopped on the way).
std::string VerifyWrittenArchive(const std::string& archivePath, const ZipMemberSummary& written,
                                 const StopToken& stop = StopToken::Never(),
                                 const std::string& password = {});

}  // namespace vaultwick
