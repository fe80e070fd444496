#include "readback/followed_archive_check.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "readback/archive_check.h"
#include "readback/archive_reader.h"

namespace vaultwick {

namespace {

// The first local header, as this reader reads it (little-endian):
//   offset  0  4  signature 50 4B 03 04
//           6  2  flags (bit 0: encrypted)
//           8  2  method (8: deflated)
//          14  4  CRC-32 of the member's data
//          18  4  compressed size (FF FF FF FF: in a ZIP64 field instead)
//          22  4  size
//          26  2  name length
//          28  2  extra fields' length
//          30     name, extra fields, then the data
constexpr std::size_t kHeaderLength = 30;
constexpr std::uint32_t kHeaderSignature = 0x04034B50;
constexpr std::size_t kFlagsAt = 6;
constexpr std::size_t kMethodAt = 8;
constexpr std::size_t kCrcAt = 14;
constexpr std::size_t kCompressedAt = 18;
constexpr std::size_t kNameLengthAt = 26;
constexpr std::size_t kExtraLengthAt = 28;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint32_t kSizeInZip64 = 0xFFFFFFFF;

constexpr std::size_t kReadBlock = 1 << 18;
// How long a wait for more bytes lasts where inotify cannot tell of them.
constexpr int kPollMilliseconds = 10;

std::uint32_t Little(const std::uint8_t* at, std::size_t bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) {
    value = (value << 8) | at[i];
  }
  return value;
}

bool ReadAt(int fd, std::uint8_t* buffer, std::size_t count, off_t offset) {
  while (count > 0) {
    const ssize_t got = pread(fd, buffer, count, offset);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    buffer += got;
    count -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

}  // namespace

// What the thread reads: the file, the inflated data's facts, and how it is
// told to end.
struct FollowedArchiveCheck::Follower {
  int fd = -1;
  int wake = -1;     // eventfd: the writer is done, or the reading is to end
  int changes = -1;  // inotify on the file; -1: waits are timed
  std::atomic<bool> writerDone{false};
  std::atomic<bool> abandon{false};
  StopToken stop = StopToken::Never();

  // Set by the thread; read once it has ended.
  bool ended = false;  // the deflated data ran to its end, and nothing failed
  std::size_t headerLength = 0;
  std::uint64_t compressed = 0;
  std::uint32_t compressedCrc32 = 0;  // of the deflated bytes, to find them unchanged at the end
  std::uint64_t size = 0;
  std::uint32_t crc32 = 0;

  ~Follower() {
    for (const int descriptor : {fd, wake, changes}) {
      if (descriptor >= 0) {
        ::close(descriptor);
      }
    }
  }

  // Waits until the file may have grown or the reading is to end.
  void WaitForMore() const {
    pollfd waits[2] = {{wake, POLLIN, 0}, {changes, POLLIN, 0}};
    const int count = changes >= 0 ? 2 : 1;
    if (::poll(waits, static_cast<nfds_t>(count), changes >= 0 ? -1 : kPollMilliseconds) > 0 &&
        (waits[1].revents & POLLIN) != 0) {
      std::uint8_t events[4096];
      while (::read(changes, events, sizeof events) > 0) {
      }
    }
  }

  // Up to `capacity` bytes at `offset`; 0 once the writer is done and the
  // file has no more; -1 when the reading is to end or fails.
  ssize_t ReadMore(std::uint8_t* buffer, std::size_t capacity, off_t offset) const {
    for (;;) {
      if (abandon.load() || stop.StopRequested()) {
        return -1;
      }
      // Looked at before reading: bytes written before the writer was done
      // are in the file by then.
      const bool done = writerDone.load();
      const ssize_t got = ::pread(fd, buffer, capacity, offset);
      if (got > 0 || (got == 0 && done)) {
        return got;
      }
      if (got < 0 && errno != EINTR) {
        return -1;
      }
      if (got == 0) {
        WaitForMore();
      }
    }
  }

  void Run() {
    std::vector<std::uint8_t> block(kReadBlock);
    std::vector<std::uint8_t> inflated(kReadBlock * 4);
    off_t offset = 0;
    // The first header, whose name and extra fields' lengths say where the
    // data starts; they keep their length when the header is rewritten.
    std::uint8_t header[kHeaderLength];
    while (offset < static_cast<off_t>(kHeaderLength)) {
      const ssize_t got = ReadMore(header + offset, kHeaderLength - offset, offset);
      if (got <= 0) {
        return;
      }
      offset += got;
    }
    if (Little(header, 4) != kHeaderSignature) {
      return;
    }
    headerLength =
        kHeaderLength + Little(header + kNameLengthAt, 2) + Little(header + kExtraLengthAt, 2);
    offset = static_cast<off_t>(headerLength);

    z_stream stream{};
    // Negative window bits: the raw deflated data a ZIP member holds.
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      return;
    }
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, Z_NULL, 0));
    std::uint32_t rawCrc = crc;
    int status = Z_OK;
    while (status == Z_OK) {
      const ssize_t got = ReadMore(block.data(), block.size(), offset);
      if (got <= 0) {
        break;
      }
      offset += got;
      stream.next_in = block.data();
      stream.avail_in = static_cast<uInt>(got);
      // A full output buffer may leave more behind; one with room left took
      // all the input there was.
      do {
        stream.next_out = inflated.data();
        stream.avail_out = static_cast<uInt>(inflated.size());
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t out = inflated.size() - stream.avail_out;
        crc = static_cast<std::uint32_t>(::crc32(crc, inflated.data(), static_cast<uInt>(out)));
        size += out;
        // Nothing left to do before more input comes.
        if (status == Z_BUF_ERROR) {
          status = Z_OK;
          break;
        }
      } while (status == Z_OK && stream.avail_out == 0);
      // At the data's end, what follows it is left in the block.
      rawCrc = static_cast<std::uint32_t>(
          ::crc32(rawCrc, block.data(), static_cast<uInt>(got) - stream.avail_in));
    }
    ended = status == Z_STREAM_END;
    compressed = stream.total_in;
    crc32 = crc;
    compressedCrc32 = rawCrc;
    inflateEnd(&stream);
  }
};

FollowedArchiveCheck::FollowedArchiveCheck(const std::string& partPath, std::string password,
                                           StopToken stop)
    : password_(std::move(password)), stop_(std::move(stop)) {
  if (!password_.empty()) {
    return;
  }
  auto follower = std::make_unique<Follower>();
  follower->stop = stop_;
  follower->fd = ::open(partPath.c_str(), O_RDONLY | O_CLOEXEC);
  follower->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (follower->fd < 0 || follower->wake < 0) {
    return;
  }
  follower->changes = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (follower->changes >= 0 &&
      ::inotify_add_watch(follower->changes, partPath.c_str(), IN_MODIFY) < 0) {
    ::close(follower->changes);
    follower->changes = -1;
  }
  try {
    Follower* reading = follower.get();
    thread_ = std::thread([reading] { reading->Run(); });
    follower_ = std::move(follower);
  } catch (const std::system_error&) {
    // No thread to spare: the finished archive is read whole.
  }
}

FollowedArchiveCheck::~FollowedArchiveCheck() {
  if (follower_) {
    follower_->abandon.store(true);
  }
  Stop();
}

void FollowedArchiveCheck::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  const std::uint64_t one = 1;
  // The eventfd counts; a write that failed leaves the thread to a timed wait.
  if (::write(follower_->wake, &one, sizeof one) < 0) {
    follower_->abandon.store(true);
  }
  thread_.join();
}

std::string FollowedArchiveCheck::Finish(const std::string& archivePath,
                                         const ZipMemberSummary& written) {
  if (follower_) {
    follower_->writerDone.store(true);
    Stop();
    if (stop_.StopRequested()) {
      return "Archive check: " + std::string(kTextStoppedOnRequest);
    }
    provedAsWritten_ = ProveFollowed(written).empty();
    if (provedAsWritten_) {
      return {};
    }
  }
  return VerifyWrittenArchive(archivePath, written, stop_, password_);
}

// Empty when the followed reading proves the finished archive, else why not.
std::string FollowedArchiveCheck::ProveFollowed(const ZipMemberSummary& written) {
  const Follower& read = *follower_;
  if (!read.ended || read.size != written.size || read.crc32 != written.crc32) {
    return "the data read does not match";
  }
  // The finished archive, from the same file the data was read from.
  std::string error;
  std::unique_ptr<ArchiveReader> reader = ArchiveReader::Open(read.fd, &error);
  if (!reader) {
    return error;
  }
  std::optional<ArchiveReader::Member> member = reader->Next();
  if (!member || member->name != written.name || !IsSqlMember(*member) || member->encrypted ||
      member->size != written.size) {
    return "another member";
  }
  // Skipping the data, libarchive compares the headers' CRC-32 and sizes.
  if (reader->Next() || reader->Failed()) {
    return "more members or headers that disagree";
  }
  std::uint8_t header[kHeaderLength];
  if (!ReadAt(read.fd, header, sizeof header, 0)) {
    return "no header";
  }
  const std::size_t headerLength =
      kHeaderLength + Little(header + kNameLengthAt, 2) + Little(header + kExtraLengthAt, 2);
  const std::uint32_t compressed = Little(header + kCompressedAt, 4);
  if (Little(header, 4) != kHeaderSignature ||
      (Little(header + kFlagsAt, 2) & kEncryptedFlag) != 0 ||
      Little(header + kMethodAt, 2) != kDeflated || headerLength != read.headerLength ||
      Little(header + kCrcAt, 4) != read.crc32 || compressed == kSizeInZip64 ||
      compressed != read.compressed) {
    return "the header does not describe the data read";
  }
  // The file may have changed since it was read; its deflated bytes cost
  // little to read again from the cache.
  std::vector<std::uint8_t> block(kReadBlock);
  std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, Z_NULL, 0));
  for (std::uint64_t done = 0; done < read.compressed;) {
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, read.compressed - done));
    if (!ReadAt(read.fd, block.data(), count, static_cast<off_t>(read.headerLength + done))) {
      return "the data cannot be read again";
    }
    crc = static_cast<std::uint32_t>(::crc32(crc, block.data(), static_cast<uInt>(count)));
    done += count;
  }
  if (crc != read.compressedCrc32) {
    return "the data changed after it was read";
  }
  return {};
}

}  // namespace vaultwick
