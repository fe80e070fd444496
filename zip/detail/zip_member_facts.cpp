#include "zip/detail/zip_member_facts.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "zip/detail/zip_time.h"
#include "zip/little_endian.h"
#include "zip/zip_format.h"

namespace vaultwick {

namespace {

namespace attr = zip_format::attributes;

bool readAt(int fd, std::uint64_t offset, std::uint8_t* bytes, std::size_t count) {
  return ReadAt(fd, bytes, count, offset) == count;
}

// An MS-DOS style executable: "MZ", a new-header offset that leaves room for a
// header, and one of the known signatures at that offset.
bool looksExecutable(int fd, std::uint64_t size) {
  constexpr std::uint64_t kMinimumSize = 40;
  constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;
  constexpr std::uint64_t kNewHeaderRoom = 52;
  if (size <= kMinimumSize) {
    return false;
  }
  std::uint8_t magic[2];
  if (!readAt(fd, 0, magic, 2) || magic[0] != 'M' || magic[1] != 'Z') {
    return false;
  }
  std::uint8_t field[4];
  if (!readAt(fd, kNewHeaderOffsetField, field, 4)) {
    return false;
  }
  const std::uint64_t newHeader = getU32(field, 0);
  if (newHeader + kNewHeaderRoom >= size) {
    return false;
  }
  std::uint8_t signature[4];
  if (!readAt(fd, newHeader, signature, 4)) {
    return false;
  }
  const std::uint32_t value = getU32(signature, 0);
  for (const char* known : {"MZ", "NE", "LE", "PE"}) {
    const auto expected = static_cast<std::uint32_t>(static_cast<std::uint8_t>(known[0])) |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(known[1])) << 8;
    if (value == expected) {
      return true;
    }
  }
  return false;
}

std::uint32_t attributesOf(const struct stat& info) {
  const bool directory = S_ISDIR(info.st_mode);
  const bool readOnly = (info.st_mode & S_IWUSR) == 0;
  std::uint32_t result = attr::kUnixOwnerRead;
  result |= directory ? attr::kUnixDirectory | attr::kDosDirectory
                      : attr::kUnixRegularFile | attr::kDosArchive;
  result |= readOnly ? attr::kDosReadOnly : attr::kUnixOwnerWrite;
  return result;
}

}  // namespace

bool isDiskFile(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode));
}

ZipResult readFileFacts(int fd, MemberFacts& facts) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    return ZipResult::CannotOpen;
  }
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    return ZipResult::NotInitialised;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  facts.externalAttributes = attributesOf(info);
  facts.expectedSize = static_cast<std::int64_t>(size);
  facts.exactSize = S_ISREG(info.st_mode);
  if (S_ISREG(info.st_mode) && looksExecutable(fd, size)) {
    facts.externalAttributes |= attr::kUnixOwnerExecute;
  }
  const CalendarTime modified = calendarFromUtc(info.st_mtim.tv_sec);
  facts.accessTime = toUnixTime(calendarFromUtc(info.st_atim.tv_sec));
  facts.modificationTime = toUnixTime(modified);
  facts.creationTime = facts.modificationTime;
  facts.dosStamp = dosStamp(modified);
  return ZipResult::Ok;
}

MemberFacts streamFacts(std::uint32_t attributes, std::int64_t expectedSize) {
  const CalendarTime now = currentLocalCalendar();
  const std::uint32_t unixNow = toUnixTime(now);
  MemberFacts facts;
  facts.externalAttributes = attributes;
  facts.expectedSize = expectedSize;
  facts.accessTime = unixNow;
  facts.modificationTime = unixNow;
  facts.creationTime = unixNow;
  facts.dosStamp = dosStamp(now);
  return facts;
}

}  // namespace vaultwick
