#include "readback/fast_sql_member.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "readback/archive_reader.h"
#include "readback/inflater.h"
#include "readback/plain_member.h"
#include "zip/zip_crc32.h"

namespace vaultwick {

namespace {

constexpr std::size_t kReadBlock = 256 * 1024;

using OnData = std::function<void(const std::uint8_t*, std::size_t)>;

// The bytes handed to the caller so far.
struct Handed {
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;

  void Add(const std::uint8_t* bytes, std::size_t count, const OnData& onData) {
    crc32 = crc32Update(crc32, bytes, count);
    size += count;
    if (onData) {
      onData(bytes, count);
    }
  }
};

// What ReadSqlMember would find, from the headers alone, when the dump is the
// archive's first member and plain (its header in *plain); nullopt otherwise,
// and whenever libarchive finds fault with the structure.
std::optional<SqlMemberFacts> PlainDump(int fd, const std::string& password, PlainMember* plain) {
  std::string error;
  const std::unique_ptr<ArchiveReader> reader = ArchiveReader::Open(fd, &error, password);
  if (!reader) {
    return std::nullopt;
  }
  SqlMemberFacts facts;
  std::optional<ArchiveReader::Member> first;
  int dumps = 0;
  while (std::optional<ArchiveReader::Member> member = reader->Next()) {
    dumps += IsSqlMember(*member) ? 1 : 0;
    if (++facts.memberCount == 1) {
      first = std::move(member);
    }
  }
  if (reader->Failed() || dumps != 1 || !first || !IsSqlMember(*first) || first->encrypted) {
    return std::nullopt;
  }
  std::optional<PlainMember> header = ReadPlainMember(fd);
  if (!header || header->name != first->name || first->size != header->size) {
    return std::nullopt;
  }
  facts.name = first->name;
  facts.size = header->size;
  facts.crc32 = header->crc32;
  *plain = std::move(*header);
  return facts;
}

// Inflates the plain member's data from the file: true when it ends where the
// header says, with the length and CRC-32 the header gives.
bool InflatePlain(int fd, const PlainMember& plain, const StopToken& stop, const OnData& onData,
                  Handed& handed) {
  Inflater inflater(
      [&](const std::uint8_t* bytes, std::size_t count) { handed.Add(bytes, count, onData); });
  std::vector<std::uint8_t> block(kReadBlock);
  for (std::uint64_t done = 0; done < plain.compressed && !stop.StopRequested();) {
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), plain.compressed - done));
    if (ReadAt(fd, block.data(), count, plain.dataOffset + done) != count ||
        inflater.Feed(block.data(), count) != Inflater::Status::NeedInput) {
      break;
    }
    done += count;
  }
  return inflater.State() == Inflater::Status::Ended && inflater.InputBytes() == plain.compressed &&
         handed.size == plain.size && handed.crc32 == plain.crc32;
}

}  // namespace

std::optional<SqlMemberFacts> ReadSqlMemberFast(int fd, const std::string& password,
                                                std::string* error, const StopToken& stop,
                                                const OnData& onData) {
  Handed handed;
  PlainMember plain;
  if (std::optional<SqlMemberFacts> expected = PlainDump(fd, password, &plain)) {
    if (InflatePlain(fd, plain, stop, onData, handed) && !stop.StopRequested()) {
      return expected;
    }
  }
  if (stop.StopRequested()) {
    *error = kTextStoppedOnRequest;
    return std::nullopt;
  }
  std::unique_ptr<ArchiveReader> reader = ArchiveReader::Open(fd, error, password);
  if (!reader) {
    return std::nullopt;
  }
  // The caller has had the first handed.size bytes already.
  const std::uint64_t skip = handed.size;
  std::uint64_t read = 0;
  std::optional<SqlMemberFacts> facts =
      ReadSqlMember(*reader, error, stop, [&](const std::uint8_t* bytes, std::size_t count) {
        const auto skipped =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, skip - std::min(skip, read)));
        read += count;
        if (skipped < count) {
          handed.Add(bytes + skipped, count - skipped, onData);
        }
      });
  // Both readings agree on what the caller was given, or neither is trusted.
  if (facts && (handed.size != facts->size || handed.crc32 != facts->crc32)) {
    *error = facts->name + " is damaged: two readings of its data differ";
    return std::nullopt;
  }
  return facts;
}

}  // namespace vaultwick
